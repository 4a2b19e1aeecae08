#include "app/ApplicationPage.h"

namespace ApplicationPage {
namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string render(const std::string& heading, const std::string& message, const std::string& buttonLabel) {
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + escaped(heading) +
           "</title><style>body{font-family:sans-serif;max-width:36em;margin:4em auto;padding:0 1em;color:#222}"
           "button{font-size:1em;padding:.4em 1.2em}</style></head><body><h1>" +
           escaped(heading) + "</h1><p>" + escaped(message) + "</p><button id=\"reload\" onclick=\"location.reload()\">" +
           escaped(buttonLabel) + "</button></body></html>";
}

}  // namespace ApplicationPage
