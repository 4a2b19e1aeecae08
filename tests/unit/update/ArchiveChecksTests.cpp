#include "update/ArchiveChecks.h"

#include <gtest/gtest.h>

using namespace UpdateArchive;

TEST(UpdateArchiveChecks, OnlyAZipWhoseNamesStayInTheFolder) {
    EXPECT_TRUE(looksLikeZip(std::string("PK\x03\x04rest", 8)));
    for (const std::string other : {std::string(), std::string("PK"), std::string("PK\x05\x06", 4), std::string("ustar")}) {
        EXPECT_FALSE(looksLikeZip(other)) << other;
    }
    EXPECT_FALSE(listingHasEscapingName("Tolvar.app/\nTolvar.app/bin/tolvar\nTolvar.app/a..b\n..hidden\n"));
    for (const char* escaping : {"/etc/passwd", "../escape", "Tolvar.app/../../x", "Tolvar.app/bin/..", ".."}) {
        EXPECT_TRUE(listingHasEscapingName("Tolvar.app/\n" + std::string(escaping) + "\nTolvar.app/x\n")) << escaping;
    }
}

TEST(UpdateArchiveChecks, LinksMustStayInsideTheirTopFolder) {
    const std::string head = "#mtree\n/set type=file\n./Tolvar.app type=dir\n./Tolvar.app/bin type=dir\n";
    const std::vector<std::pair<std::string, bool>> cases = {
        {"./Tolvar.app/bin/a\\040file type=file\n", false},
        {"./Tolvar.app/bin/ok type=link link=../bin/a\\040file\n", false},
        {"./Tolvar.app/bin/ok\ttype=link link=tolvar\n", false},
        {"./top type=link link=Tolvar.app\n", false},
        {"./Tolvar.app/bin/abs type=link link=/etc/passwd\n", true},
        {"./Tolvar.app/bin/up type=link link=../../x\n", true},
        {"./Tolvar.app/bin/up type=link link=..\\057..\\057x\n", true},  // an escaped "/"
        {"./Tolvar.app/bin/up type=link link=\\056\\056/\\056\\056/x\n", true},  // escaped dots
        {"./Tolvar.app/up type=link link=./../Tolvar.app/x\n", true},
        {"./top type=link link=..\n", true},
        {"./Tolvar.app/none type=link\n", true},
        {"./Tolvar.app/up type=link link=../../x\r\n", true},
        {"./Tolvar.app/bin/up link=../../x type=link\n", true},
    };
    for (const auto& [entry, unsafe] : cases) EXPECT_EQ(listingHasUnsafeLink(head + entry), unsafe) << entry;
}
