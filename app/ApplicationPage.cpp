#include "app/ApplicationPage.h"

#include <sstream>

namespace ApplicationPage {
namespace {

constexpr const char* style = R"(
:root { color-scheme: light dark; }
body { margin: 0; min-height: 100vh; display: flex; align-items: center; justify-content: center;
       font: 15px/1.5 system-ui, sans-serif; background: #f6f6f4; color: #222; }
main { max-width: 34em; padding: 2em; }
h1 { font-size: 1.5em; font-weight: 600; margin: 0 0 0.6em; }
p { margin: 0 0 0.8em; color: #444; overflow-wrap: anywhere; }
button { margin-top: 0.8em; font: inherit; padding: 0.45em 1.4em; border-radius: 6px; border: 1px solid #2a62c9;
         background: #2f6fe0; color: #fff; cursor: pointer; }
@media (prefers-color-scheme: dark) {
  body { background: #1e1e1e; color: #eee; }
  p { color: #bbb; }
}
)";

}  // namespace

std::string escapedHTML(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

std::string render(const std::string& heading, const std::string& message, const std::string& buttonLabel) {
    std::ostringstream page;
    page << "<!doctype html><html><head><meta charset=\"utf-8\"><title>" << escapedHTML(heading) << "</title><style>"
         << style << "</style></head><body><main><h1>" << escapedHTML(heading) << "</h1>";
    std::istringstream lines(message);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) page << "<p>" << escapedHTML(line) << "</p>";
    }
    page << "<button id=\"reload\" type=\"button\" onclick=\"location.reload()\">" << escapedHTML(buttonLabel)
         << "</button></main></body></html>";
    return page.str();
}

}  // namespace ApplicationPage
