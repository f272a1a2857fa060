// The status callback and the progress texts, with a recorder and a fake clock.

#include "UiRecorder.h"
#include "ftp/Session.h"
#include "ftp/Transfer.h"

#include <gtest/gtest.h>

namespace oxlip {
namespace {

using test::UiRecorder;

TEST(ProgressCounts, WholeKilobytesRoundedAndGrouped) {
    EXPECT_EQ(FormatProgressCounts(1234 * 1024, 5678 * 1024), "1,234KB / 5,678KB");
    EXPECT_EQ(FormatProgressCounts(5000, 10000), "5KB / 10KB"); // 4.88 and 9.77 round up
    EXPECT_EQ(FormatProgressCounts(511, 512), "KB / 1KB");      // below one half is empty
    EXPECT_EQ(FormatProgressCounts(0, 0), "KB / KB");
    EXPECT_EQ(FormatProgressCounts(int64_t(5) << 30, int64_t(6) << 30),
              "5,242,880KB / 6,291,456KB"); // beyond 4 GiB
}

TEST(StatusCallback, FirstNotificationOnlyShowsTheBarLaterOnesGrowIt) {
    UiRecorder ui;
    TransferContext ctx;
    ctx.kind = kContextDownload;
    ctx.total = 10000;
    FtpStatusCallback(ctx, kStatusResponseReceived, 4000, ui.ports(), 1000);
    EXPECT_EQ(ui.journal, std::vector<std::string>{"clear"});
    EXPECT_EQ(ctx.expected, 10000);
    EXPECT_EQ(ctx.done, 0); // the first count is not added
    EXPECT_EQ(ui.pumps, 1);

    FtpStatusCallback(ctx, kStatusResponseReceived, 4000, ui.ports(), 1001);
    FtpStatusCallback(ctx, kStatusResponseReceived, 6000, ui.ports(), 1100);
    EXPECT_EQ(ui.journal, (std::vector<std::string>{"clear", "bar 4000/10000", "count 4KB / 10KB",
                                                    "bar 10000/10000", "count 10KB / 10KB"}));
    EXPECT_EQ(ui.pumps, 3);
}

TEST(StatusCallback, RedrawsAtMostEvery50MsAndTheFlushDrawsTheLastState) {
    UiRecorder ui;
    TransferContext ctx;
    ctx.kind = kContextUpload;
    ctx.total = 1000000;
    FtpStatusCallback(ctx, kStatusRequestSent, 0, ui.ports(), 0);
    for (int i = 0; i < 10; ++i) { // ten blocks within 45 ms
        FtpStatusCallback(ctx, kStatusRequestSent, 1000, ui.ports(), 5 * i);
    }
    EXPECT_EQ(ui.lines("bar"), std::vector<std::string>{"bar 1000/1000000"});
    EXPECT_EQ(ui.pumps, 11); // the pump still runs for every block
    FtpStatusCallback(ctx, kStatusRequestSent, 1000, ui.ports(), 50);
    EXPECT_EQ(ui.lines("bar").back(), "bar 11000/1000000");
    FtpStatusCallback(ctx, kStatusRequestSent, 1000, ui.ports(), 60);
    FlushTransferProgress(ctx, ui.ports());
    EXPECT_EQ(ui.lines("bar").back(), "bar 12000/1000000");
    EXPECT_EQ(ui.lines("count").back(), "count 12KB / 977KB");
    const auto drawn = ui.journal.size();
    FlushTransferProgress(ctx, ui.ports()); // nothing new to draw
    EXPECT_EQ(ui.journal.size(), drawn);
}

TEST(StatusCallback, OnlyTheMatchingStatusOfEachKindCounts) {
    UiRecorder ui;
    TransferContext download;
    download.kind = kContextDownload;
    download.total = 100;
    FtpStatusCallback(download, kStatusRequestSent, 50, ui.ports(), 0);
    TransferContext upload;
    upload.kind = kContextUpload;
    upload.total = 100;
    FtpStatusCallback(upload, kStatusResponseReceived, 50, ui.ports(), 0);
    TransferContext connection;
    connection.kind = kContextConnection;
    FtpStatusCallback(connection, kStatusResponseReceived, 50, ui.ports(), 0);
    EXPECT_TRUE(ui.journal.empty());
    EXPECT_EQ(ui.pumps, 0);
    EXPECT_EQ(download.expected, 0);
    EXPECT_EQ(upload.expected, 0);

    TransferContext listing;
    listing.kind = kContextListing;
    FtpStatusCallback(listing, kStatusResponseReceived, 50, ui.ports(), 0);
    FtpStatusCallback(listing, kStatusRequestSent, 50, ui.ports(), 0);
    EXPECT_TRUE(ui.journal.empty());
    EXPECT_EQ(ui.pumps, 1); // a listing's reply pumps, nothing else
}

TEST(StatusCallback, AnEmptyFileNeverDrawsABar) {
    UiRecorder ui;
    TransferContext ctx;
    ctx.kind = kContextDownload;
    for (int i = 0; i < 3; ++i) {
        FtpStatusCallback(ctx, kStatusResponseReceived, 10, ui.ports(), 100 * i);
    }
    FlushTransferProgress(ctx, ui.ports());
    EXPECT_EQ(ui.journal, (std::vector<std::string>{"clear", "clear", "clear"}));
    EXPECT_EQ(ctx.done, 0);
}

TEST(StatusCallback, NullPortsAreHarmless) {
    TransferContext ctx;
    ctx.kind = kContextDownload;
    ctx.total = 10;
    FtpStatusCallback(ctx, kStatusResponseReceived, 0, SessionPorts{}, 0);
    FtpStatusCallback(ctx, kStatusResponseReceived, 10, SessionPorts{}, 100);
    FlushTransferProgress(ctx, SessionPorts{});
    EXPECT_EQ(ctx.done, 10);
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
    EXPECT_EQ(GetTransferType("html", {}), TransferMode::Binary);
    EXPECT_EQ(GetTransferType("docs/Makefile", list), TransferMode::Binary);
}

} // namespace
} // namespace oxlip
