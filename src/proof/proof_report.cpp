#include "proof/proof_report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace vellomar {
namespace {

std::string escaped(const std::string& text) {
  std::string html;
  for (const char c : text) {
    switch (c) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      default: html += c;
    }
  }
  return html;
}

// A file name of the proof directory as a relative address.
std::string address(const std::string& name) {
  std::string encoded;
  for (const unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      encoded += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
  }
  return encoded;
}

std::string decibels(double psnr) {
  if (std::isinf(psnr)) return "identical";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f dB", psnr);
  return text;
}

std::string number(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string drawing(const std::string& name, const char* caption) {
  return "<figure><a href=\"" + address(name) + "\"><img src=\"" + address(name) + "\" alt=\"" +
         caption + " drawing\"></a><figcaption>" + caption + "</figcaption></figure>";
}

constexpr char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "section{border-top:1px solid #ccc;padding:.5em .5em 1em}"
    "section.fails{background:#fdecec}"
    "h2{font-size:1.2em;margin:.3em 0}"
    ".fails .verdict{color:#b00}"
    ".passes .verdict{color:#070}"
    ".drawings{display:flex;flex-wrap:wrap;gap:1em}"
    "figure{margin:0}"
    "img{max-width:30vw;max-height:60vh;background:#fff;border:1px solid #ddd;display:block}"
    "li{overflow-wrap:anywhere}"
    ".legend span{display:inline-block;width:1em;height:1em;border:1px solid #999;"
    "vertical-align:middle;margin:0 .3em}"
    "table{border-collapse:collapse;margin:.5em 0}"
    "td,th{border:1px solid #ccc;padding:.2em .6em;text-align:left}"
    "td.soft,td.bad{color:#b00}td.good{color:#070}";

// What the drawings and the figures show, once for the whole proof.
std::string legend(const ProofThresholds& t) {
  return "<div class=\"legend\"><p>Each page is drawn as it prints: <b>before</b> from the "
         "source book, <b>after</b> from the prepared book. In the <b>difference</b> drawing "
         "<span style=\"background:#fff\"></span>white is where the two agree, "
         "<span style=\"background:#f55\"></span>red where they differ (the redder, the more), "
         "<span style=\"background:#c8c8c8\"></span>grey where no mask shows anything. A box "
         "<span style=\"border-color:#c00\"></span>crossed out in red holds a picture that "
         "cannot be loaded; a box <span style=\"border-color:#005aa0\"></span>outlined in blue "
         "a web address or a default picture, which the book does not hold.</p>\n"
         "<p>Each picture is judged at print resolution, one printed pixel against the part "
         "of the source picture it prints (its window placed as vellomar cuts it: a whole "
         "pixel for its corner and its size). It fails, and its page with it, when "
         "<b>PSNR</b> (how close what prints is to the source, in colour) is below " +
         number("%.1f", t.minPsnr) +
         " dB, its <b>misplacement</b> (how far it lies from its "
         "place, over the whole picture and piece by piece) is more than " +
         number("%.1f", t.maxMisplacement) +
         " printed pixels, its <b>detail</b> (the fine "
         "detail it keeps of the source's) is below " +
         number("%.2f", t.minDetail) +
         " (blurred), or its <b>alignment</b> (how well it matches the source at all) is "
         "below " +
         number("%.2f", t.minAlignment) +
         ": another picture, or another part of "
         "it (mirrored, turned, swapped, another window). A picture prepared right scores 25 dB "
         "or more (a picture reduced ten times, with fine grain, about 25; one reduced a "
         "little, 35 or more), a misplacement of 0 to 1 px, a detail of about 1 or more, and "
         "an alignment of 0.9 or more; a window shifted by 3 printed pixels measures 3.0 px, "
         "a blurred one keeps less than 0.1 of the detail, a mirrored one aligns at about 0. "
         "<b>Source pixels per printed pixel</b> below 1 is a picture enlarged, which prints "
         "soft.</p></div>\n";
}

// The pictures of a page: how each prints, and its figures.
std::string pictureTable(const std::vector<PictureFigure>& pictures) {
  if (pictures.empty()) return "";
  std::string html =
      "<table><tr><th>Element</th><th>Picture</th><th>Source pixels per printed pixel</th>"
      "<th>PSNR</th><th>Misplacement</th><th>Detail</th><th>Alignment</th><th></th></tr>";
  for (const PictureFigure& picture : pictures) {
    const bool soft = picture.resolution > 0 && picture.resolution < 1 / kNotedEnlargement;
    const ElementFigures& f = picture.figures;
    html += "<tr><td>" + escaped(picture.place) + "</td><td>" + escaped(picture.name) + "</td><td" +
            (soft ? " class=\"soft\"" : "") + ">" +
            (picture.resolution > 0 ? number("%.2f", picture.resolution) : "") +
            (soft ? " (enlarged)" : "") + "</td>";
    if (f.measured) {
      html += "<td>" + decibels(f.psnr) + "</td><td>" + number("%.1f px", f.misplacement) +
              "</td><td>" + number("%.2f", f.detail) + "</td><td>" + number("%.2f", f.alignment) +
              "</td>";
    } else {
      html += "<td colspan=\"4\">not measured</td>";
    }
    html += std::string("<td class=\"") + (picture.passes ? "good\">passes" : "bad\">fails") +
            "</td></tr>";
  }
  return html + "</table>\n";
}

}  // namespace

std::string pagesBelowThresholds(size_t pages, size_t failing) {
  return std::to_string(pages) + (pages == 1 ? " page, " : " pages, ") + std::to_string(failing) +
         " below the thresholds";
}

std::string proofIndexHtml(const std::vector<PageFigures>& pages, const ProofThresholds& thresholds,
                           const std::string& sourceDir, const std::string& outputDir) {
  std::vector<const PageFigures*> order;
  order.reserve(pages.size());
  for (const PageFigures& page : pages) order.push_back(&page);
  std::stable_sort(order.begin(), order.end(), [](const PageFigures* a, const PageFigures* b) {
    return !a->passes && b->passes;
  });
  const size_t failing =
      std::count_if(pages.begin(), pages.end(), [](const PageFigures& p) { return !p.passes; });
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Proof: " +
      escaped(outputDir) + "</title>\n<style>" + kStyle +
      "</style>\n</head>\n<body>\n<h1>Proof of " + escaped(outputDir) +
      "</h1>\n<p>Before: " + escaped(sourceDir) + ". After: " + escaped(outputDir) + ".</p>\n<p>" +
      (failing == 0 ? "<b>The book passes</b>: " : "<b>The book fails</b>: ") +
      pagesBelowThresholds(pages.size(), failing) + (failing == 0 ? "" : " (shown first)") +
      ".</p>\n" + legend(thresholds);
  for (const PageFigures* page : order) {
    const std::string number = std::to_string(page->page + 1);
    const char* verdict = page->passes ? "passes" : "fails";
    html.append("<section class=\"").append(verdict).append("\" id=\"page-").append(number);
    html.append("\">\n<h2>Page ").append(number).append(": <span class=\"verdict\">");
    html.append(verdict).append("</span></h2>\n");
    if (page->before.empty()) {
      html += "<p>No picture on this page.</p>\n";
    } else {
      html.append("<div class=\"drawings\">").append(drawing(page->before, "before"));
      html.append(drawing(page->after, "after")).append(drawing(page->difference, "difference"));
      html += "</div>\n";
    }
    html += pictureTable(page->pictures);
    for (const auto* list : {&page->failures, &page->notes}) {
      if (list->empty()) continue;
      html += "<ul>";
      for (const std::string& note : *list) html += "<li>" + escaped(note) + "</li>";
      html += "</ul>\n";
    }
    html += "</section>\n";
  }
  html += "</body>\n</html>\n";
  return html;
}

}  // namespace vellomar
