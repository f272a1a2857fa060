// The progress meter, with a recorder and a fake clock, and the transfer type rule.

#include "UiRecorder.h"
#include "ftp/Transfer.h"

#include <gtest/gtest.h>

namespace oxlip {
namespace {

using test::UiRecorder;

TEST(ProgressMeter, ShowsTheBarThenTellsBytesAtMostEvery50MsAndTheLastStateAtTheEnd) {
    UiRecorder ui;
    ProgressMeter meter(ui.ports(), 1000000);
    for (int i = 0; i < 10; ++i) { // ten blocks within 45 ms
        meter.add(1000, 5 * i);
    }
    EXPECT_EQ(ui.journal, (std::vector<std::string>{"clear", "bar 1000/1000000"}));
    EXPECT_EQ(ui.pumps, 11); // the pump still runs for every block
    meter.add(1000, 50);
    meter.add(-5, 55); // a negative count adds nothing
    meter.add(1000, 60);
    meter.finish();
    meter.finish(); // nothing new to tell
    EXPECT_EQ(ui.lines("bar"), (std::vector<std::string>{"bar 1000/1000000", "bar 11000/1000000",
                                                         "bar 12000/1000000"}));

    // A file of no or unknown size only shows the empty bar; null ports are harmless.
    UiRecorder empty;
    ProgressMeter none(empty.ports(), 0);
    none.add(10, 0);
    none.add(10, 100);
    none.finish();
    EXPECT_EQ(empty.journal, std::vector<std::string>{"clear"});
    ProgressMeter quiet(SessionPorts{}, 10);
    quiet.add(10, 0);
    quiet.finish();
    EXPECT_EQ(quiet.done(), 10);
}

TEST(TransferType, ExtensionListIsCaseInsensitiveAndExact) {
    const std::vector<std::string> list = {"HTML", "txt", ".CSS", ""};
    // An entry with a dot never matches, nor does an empty one match no extension.
    for (const char* ascii : {"html", "Txt"}) {
        EXPECT_EQ(GetTransferType(ascii, list), TransferMode::Ascii) << ascii;
    }
    for (const char* binary : {"css", "gif", ""}) {
        EXPECT_EQ(GetTransferType(binary, list), TransferMode::Binary) << binary;
    }
}

} // namespace
} // namespace oxlip
