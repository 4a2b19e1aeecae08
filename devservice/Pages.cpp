#include "devservice/Pages.h"

#include "devservice/Text.h"

namespace devservice::pages {
namespace {

using text::htmlEscape;

const char* const style = R"css(
body { font: 15px/1.45 system-ui, sans-serif; margin: 0; color: #1d1d1f; background: #f6f6f4; }
header { display: flex; gap: 1em; align-items: center; padding: .6em 1.2em; background: #23395d; color: #fff; }
header a, header button { color: #fff; background: none; border: 0; font: inherit; cursor: pointer; padding: 0; }
header .who { margin-left: auto; opacity: .8; }
header form { margin: 0; }
main { max-width: 46em; margin: 1.5em auto; padding: 0 1.2em; }
ul.bookmarks { list-style: none; padding: 0; }
li.bookmark { background: #fff; border-radius: 6px; padding: .7em 1em; margin-bottom: .6em; box-shadow: 0 1px 2px #0002; }
li.bookmark .title { font-weight: 600; }
li.bookmark .url { color: #555; font-size: .9em; word-break: break-all; }
.tag { display: inline-block; background: #e6ecf5; border-radius: 3px; padding: 0 .4em; margin-right: .3em; font-size: .85em; }
.read-later { color: #9a5b00; font-size: .85em; margin-right: .6em; }
time { color: #777; font-size: .85em; }
form.card { background: #fff; border-radius: 6px; padding: 1em 1.2em; box-shadow: 0 1px 2px #0002; }
label { display: block; margin: .6em 0 .2em; }
label.check { display: flex; gap: .4em; align-items: center; }
input[type=text], input[type=url], input[type=password] { width: 100%; box-sizing: border-box; padding: .4em; font: inherit; }
button.primary { margin-top: 1em; padding: .45em 1.2em; font: inherit; }
.error { color: #b00020; }
.notice { color: #1b6e20; }
)css";

std::string page(const std::string& title, const std::string& userName, const std::string& body) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                       htmlEscape(title) + "</title>\n<style>" + style + "</style>\n</head>\n<body>\n<header>";
    html += "<strong>Tolvar</strong>";
    if (!userName.empty()) {
        html += "<a href=\"/app\">Bookmarks</a><a href=\"/app/bookmarks/new\">New bookmark</a>"
                "<span class=\"who\">" +
                htmlEscape(userName) +
                "</span><form method=\"post\" action=\"/app/signout\"><button type=\"submit\">Sign out</button></form>";
    }
    html += "</header>\n<main>\n" + body + "\n</main>\n</body>\n</html>\n";
    return html;
}

std::string errorParagraph(const std::string& error) {
    return error.empty() ? std::string() : "<p class=\"error\" role=\"alert\">" + htmlEscape(error) + "</p>\n";
}

}  // namespace

std::string signIn(const std::string& next, const std::string& name, const std::string& error) {
    std::string body = "<h1>Sign in</h1>\n" + errorParagraph(error) +
                       "<form class=\"card\" method=\"post\" action=\"/app/signin\">\n"
                       "<input type=\"hidden\" name=\"next\" value=\"" +
                       htmlEscape(next) +
                       "\">\n"
                       "<label for=\"name\">Name</label>\n"
                       "<input type=\"text\" id=\"name\" name=\"name\" autocomplete=\"username\" autofocus value=\"" +
                       htmlEscape(name) +
                       "\">\n"
                       "<label for=\"password\">Password</label>\n"
                       "<input type=\"password\" id=\"password\" name=\"password\" autocomplete=\"current-password\">\n"
                       "<button class=\"primary\" type=\"submit\">Sign in</button>\n</form>";
    return page("Sign in · Tolvar", "", body);
}

std::string bookmarkList(const std::string& userName, const std::vector<Bookmark>& bookmarks, Notice notice) {
    std::string body = "<h1>Bookmarks</h1>\n";
    if (notice == Notice::saved) body += "<p class=\"notice\" role=\"status\">Bookmark saved.</p>\n";
    if (notice == Notice::alreadySaved) {
        body += "<p class=\"notice\" role=\"status\">That address was already saved.</p>\n";
    }
    if (bookmarks.empty()) {
        body += "<p class=\"empty\">No bookmarks yet. <a href=\"/app/bookmarks/new\">Add one</a>.</p>";
        return page("Bookmarks · Tolvar", userName, body);
    }
    body += "<ul class=\"bookmarks\">\n";
    for (const auto& bookmark : bookmarks) {
        body += "<li class=\"bookmark\" data-id=\"" + std::to_string(bookmark.id) + "\">\n";
        // Only http and https addresses are ever stored, so the link cannot run script.
        body += "<a class=\"title\" href=\"" + htmlEscape(bookmark.url) + "\">" + htmlEscape(bookmark.title) +
                "</a>\n";
        body += "<div class=\"url\">" + htmlEscape(bookmark.url) + "</div>\n<div class=\"meta\">";
        if (bookmark.readLater) body += "<span class=\"read-later\">Read later</span>";
        for (const auto& tag : bookmark.tags) body += "<span class=\"tag\">" + htmlEscape(tag) + "</span>";
        body += "<time datetime=\"" + htmlEscape(bookmark.createdAt) + "\">" + htmlEscape(bookmark.createdAt) +
                "</time></div>\n</li>\n";
    }
    body += "</ul>";
    return page("Bookmarks · Tolvar", userName, body);
}

std::string newBookmark(const std::string& userName, const BookmarkForm& form, const std::string& error) {
    std::string body = "<h1>New bookmark</h1>\n" + errorParagraph(error) +
                       "<form class=\"card\" method=\"post\" action=\"/app/bookmarks/new\">\n"
                       "<label for=\"url\">Address</label>\n"
                       "<input type=\"url\" id=\"url\" name=\"url\" required value=\"" +
                       htmlEscape(form.url) +
                       "\">\n"
                       "<label for=\"title\">Title</label>\n"
                       "<input type=\"text\" id=\"title\" name=\"title\" value=\"" +
                       htmlEscape(form.title) +
                       "\">\n"
                       "<label for=\"tags\">Tags (separated by commas or spaces)</label>\n"
                       "<input type=\"text\" id=\"tags\" name=\"tags\" value=\"" +
                       htmlEscape(form.tags) +
                       "\">\n"
                       "<label class=\"check\"><input type=\"checkbox\" id=\"readLater\" name=\"readLater\" value=\"on\"" +
                       std::string(form.readLater ? " checked" : "") +
                       "> Read later</label>\n"
                       "<button class=\"primary\" type=\"submit\">Save</button>\n</form>";
    return page("New bookmark · Tolvar", userName, body);
}

std::string message(const std::string& heading, const std::string& text) {
    return page(heading + " · Tolvar", "", "<h1>" + htmlEscape(heading) + "</h1>\n<p>" + htmlEscape(text) + "</p>");
}

}  // namespace devservice::pages
