// The progress meter, with a recorder and a fake clock, and the transfer type rule.

#include "UiRecorder.h"
#include "ftp/Session.h"
#include "ftp/Transfer.h"

#include <gtest/gtest.h>

namespace oxlip {
namespace {

using test::UiRecorder;

TEST(ProgressMeter, ShowsTheBarThenTellsBytesAtMostEvery50MsAndTheLastStateAtTheEnd) {
    UiRecorder ui;
    ProgressMeter meter(ui.ports(), 1000000);
    EXPECT_EQ(ui.journal, std::vector<std::string>{"clear"});
    EXPECT_EQ(ui.pumps, 1);
    for (int i = 0; i < 10; ++i) { // ten blocks within 45 ms
        meter.add(1000, 5 * i);
    }
    EXPECT_EQ(ui.lines("bar"), std::vector<std::string>{"bar 1000/1000000"});
    EXPECT_EQ(ui.pumps, 11); // the pump still runs for every block
    meter.add(1000, 50);
    EXPECT_EQ(ui.lines("bar").back(), "bar 11000/1000000");
    meter.add(-5, 55); // a negative count adds nothing
    meter.add(1000, 60);
    meter.finish();
    EXPECT_EQ(ui.lines("bar").back(), "bar 12000/1000000");
    const auto told = ui.journal.size();
    meter.finish(); // nothing new to tell
    EXPECT_EQ(ui.journal.size(), told);

    // A file of no or unknown size only shows the empty bar; null ports are harmless.
    UiRecorder empty;
    ProgressMeter none(empty.ports(), 0);
    for (int i = 0; i < 3; ++i) {
        none.add(10, 100 * i);
    }
    none.finish();
    EXPECT_EQ(empty.journal, std::vector<std::string>{"clear"});
    EXPECT_EQ(none.done(), 30);

    ProgressMeter quiet(SessionPorts{}, 10);
    quiet.add(10, 0);
    quiet.finish();
    EXPECT_EQ(quiet.done(), 10);
}

TEST(TransferType, ExtensionListIsCaseInsensitiveAndExact) {
    const std::vector<std::string> list = {"HTML", "txt", ".CSS"};
    EXPECT_EQ(GetTransferType("html", list), TransferMode::Ascii);
    EXPECT_EQ(GetTransferType("Txt", list), TransferMode::Ascii);
    EXPECT_EQ(GetTransferType("css", list),
              TransferMode::Binary); // an entry with a dot never matches
    EXPECT_EQ(GetTransferType("gif", list), TransferMode::Binary);
    EXPECT_EQ(GetTransferType("", list), TransferMode::Binary);
    EXPECT_EQ(GetTransferType("", {"HTML", ""}),
              TransferMode::Binary); // an empty entry matches no extension
}

} // namespace
} // namespace oxlip
