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

std::string picture(const std::string& name, const std::string& what) {
  return "<td><a href=\"" + address(name) + "\"><img src=\"" + address(name) + "\" alt=\"" + what +
         "\"></a></td>";
}

constexpr char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse}"
    "td,th{border:1px solid #ccc;padding:6px;vertical-align:top;text-align:left}"
    "img{max-width:25vw;max-height:40vh;background:#fff;display:block}"
    "tr.fails{background:#fde8e8}"
    ".verdict{font-weight:bold}"
    "tr.fails .verdict{color:#b00}"
    "tr.passes .verdict{color:#070}"
    "ul{margin:.3em 0;padding-left:1.2em}";

}  // namespace

bool pagePasses(const PageFigures& figures, const ProofThresholds& thresholds) {
  return figures.failures.empty() && !(figures.psnr < thresholds.minPsnr) &&
         !(figures.misplacement > thresholds.maxMisplacement);
}

std::string proofIndexHtml(const std::vector<PageFigures>& pages, const ProofThresholds& thresholds,
                           const std::string& sourceDir, const std::string& outputDir) {
  std::vector<const PageFigures*> order;
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
      "</h1>\n<p>Before: " + escaped(sourceDir) + ". After: " + escaped(outputDir) +
      ".</p>\n<p class=\"summary\">" + std::to_string(pages.size()) + " pages, " +
      std::to_string(failing) + " below the thresholds (at least " + decibels(thresholds.minPsnr) +
      " inside the masks, at most " + pixels(thresholds.maxMisplacement) +
      " misplacement).</p>\n<table>\n<tr><th>Page</th><th>Before</th><th>After</th>"
      "<th>Difference</th><th>Figures</th></tr>\n";
  for (const PageFigures* page : order) {
    html += std::string("<tr class=\"") + (page->passes ? "passes" : "fails") + "\" id=\"page-" +
            std::to_string(page->page + 1) + "\"><th>" + std::to_string(page->page + 1) + "</th>" +
            picture(page->before, "before") + picture(page->after, "after") +
            picture(page->difference, "difference") + "<td><p class=\"verdict\">" +
            (page->passes ? "passes" : "fails") +
            "</p><p>PSNR inside the masks: " + decibels(page->psnr) +
            "</p><p>Largest misplacement: " + pixels(page->misplacement) +
            (page->misplacedPlace.empty() ? "" : " (" + escaped(page->misplacedPlace) + ")") +
            "</p>";
    for (const auto* list : {&page->failures, &page->notes}) {
      if (list->empty()) continue;
      html += "<ul>";
      for (const std::string& note : *list) html += "<li>" + escaped(note) + "</li>";
      html += "</ul>";
    }
    html += "</td></tr>\n";
  }
  html += "</table>\n</body>\n</html>\n";
  return html;
}

}  // namespace vellomar
