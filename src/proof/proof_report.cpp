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
  if (std::isnan(psnr)) return "no mask shows anything";
  if (std::isinf(psnr)) return "identical";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f dB", psnr);
  return text;
}

std::string pixels(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f px", value);
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
    "td.soft{color:#b00}";

// What the drawings show, once for the whole proof.
constexpr char kLegend[] =
    "<p class=\"legend\">Each page is drawn as it prints: <b>before</b> from the source book, "
    "<b>after</b> from the prepared book. In the <b>difference</b> drawing "
    "<span style=\"background:#fff\"></span>white is where the two agree, "
    "<span style=\"background:#f55\"></span>red where they differ (the redder, the more), "
    "<span style=\"background:#c8c8c8\"></span>grey where no mask shows anything. A box "
    "<span style=\"border-color:#c00\"></span>crossed out in red holds a picture that cannot "
    "be loaded; a box <span style=\"border-color:#005aa0\"></span>outlined in blue a web "
    "address or a default picture, which the book does not hold. A picture printed from fewer "
    "source pixels than printed pixels (below 1) is enlarged and prints soft.</p>\n";

// The pictures of a page and the resolution each prints at.
std::string pictureTable(const std::vector<PictureFigure>& pictures) {
  if (pictures.empty()) return "";
  std::string html =
      "<table><tr><th>Element</th><th>Picture</th><th>Source pixels per printed pixel</th></tr>";
  for (const PictureFigure& picture : pictures) {
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.2f", picture.resolution);
    const bool soft = picture.resolution < 1 / kNotedEnlargement;
    html += "<tr><td>" + escaped(picture.place) + "</td><td>" + escaped(picture.name) + "</td><td" +
            (soft ? " class=\"soft\"" : "") + ">" + figure + (soft ? " (enlarged)" : "") +
            "</td></tr>";
  }
  return html + "</table>\n";
}

}  // namespace

bool pagePasses(const PageFigures& figures, const ProofThresholds& thresholds) {
  return figures.failures.empty() && !(figures.psnr < thresholds.minPsnr) &&
         !(figures.misplacement > thresholds.maxMisplacement);
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
      std::to_string(pages.size()) + " pages, " + std::to_string(failing) +
      " below the thresholds (at least " + decibels(thresholds.minPsnr) +
      " inside the masks, at most " + pixels(thresholds.maxMisplacement) + " misplacement).</p>\n" +
      kLegend;
  for (const PageFigures* page : order) {
    const std::string number = std::to_string(page->page + 1);
    const char* verdict = page->passes ? "passes" : "fails";
    html.append("<section class=\"").append(verdict).append("\" id=\"page-").append(number);
    html.append("\">\n<h2>Page ").append(number).append(": <span class=\"verdict\">");
    html.append(verdict).append("</span></h2>\n<p>PSNR inside the masks: ");
    html.append(decibels(page->psnr)).append(". Largest misplacement: ");
    html.append(pixels(page->misplacement));
    if (!page->misplacedPlace.empty())
      html.append(" (").append(escaped(page->misplacedPlace)) += ")";
    html.append(".</p>\n<div class=\"drawings\">").append(drawing(page->before, "before"));
    html.append(drawing(page->after, "after")).append(drawing(page->difference, "difference"));
    html += "</div>\n" + pictureTable(page->pictures);
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
