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
    "li{overflow-wrap:anywhere}";

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
      " inside the masks, at most " + pixels(thresholds.maxMisplacement) + " misplacement).</p>\n";
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
    html += "</div>\n";
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
