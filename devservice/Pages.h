#pragma once

#include <string>
#include <vector>

#include "devservice/Bookmarks.h"

// The web application's pages: plain HTML with a little inline CSS. Every text that comes from a
// user or a request is HTML-escaped here.
namespace devservice::pages {

std::string signIn(const std::string& next, const std::string& name, const std::string& error);

enum class Notice { none, saved, alreadySaved };

std::string bookmarkList(const std::string& userName, const std::vector<Bookmark>& bookmarks, Notice notice);

struct BookmarkForm {
    std::string url;
    std::string title;
    std::string tags;
    bool readLater = false;
};

std::string newBookmark(const std::string& userName, const BookmarkForm& form, const std::string& error);

// A short page for errors such as "Not found".
std::string message(const std::string& heading, const std::string& text);

}  // namespace devservice::pages
