#include "net/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every work and status event as text.
struct EventLog {
  std::vector<std::string> lines;
  void Watch(net::TIdComponent& component) {
    component.OnWorkBegin = [this](net::TIdComponent*, net::TWorkMode mode, int32_t max) {
      lines.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    component.OnWork = [this](net::TIdComponent*, net::TWorkMode mode, int32_t count) {
      lines.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    component.OnWorkEnd = [this](net::TIdComponent*, net::TWorkMode mode) {
      lines.push_back("end " + std::to_string(mode));
    };
    component.OnStatus = [this](net::TIdComponent*, net::TIdStatus status, const std::string& text) {
      lines.push_back("status " + std::to_string(status) + " " + text);
    };
  }
};

TEST(Work, NestedStartsFireOnceAndOnlyTheOutermostFinishEnds) {
  net::TIdComponent c;
  EventLog log;
  log.Watch(c);
  c.StartWork(net::wmRead, 100);
  c.StartWork(net::wmRead, 5);
  c.ReportWork(net::wmRead, 10);
  c.FinishWork(net::wmRead);
  c.ReportWork(net::wmRead, 20);
  c.FinishWork(net::wmRead);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"begin 0 100", "work 0 10", "work 0 30", "end 0"}));
  EXPECT_EQ(c.WorkRecord(net::wmRead).Max, 100);
  EXPECT_EQ(c.WorkRecord(net::wmRead).Level, 0);
}

TEST(Work, ReportsWithoutOpenWorkAreDropped) {
  net::TIdComponent c;
  EventLog log;
  log.Watch(c);
  c.ReportWork(net::wmWrite, 10);
  EXPECT_EQ(c.WorkRecord(net::wmWrite).Count, 0);
  // An end without a start fires nothing and leaves the level below 0.
  c.FinishWork(net::wmWrite);
  EXPECT_EQ(c.WorkRecord(net::wmWrite).Level, -1);
  EXPECT_TRUE(log.lines.empty());
}

TEST(Work, ReadAndWriteCountSeparately) {
  net::TIdComponent c;
  EventLog log;
  log.Watch(c);
  c.StartWork(net::wmRead, 0);
  c.StartWork(net::wmWrite, 7);
  c.ReportWork(net::wmRead, 3);
  c.ReportWork(net::wmWrite, 4);
  c.ReportWork(net::wmRead, 3);
  c.FinishWork(net::wmWrite);
  c.FinishWork(net::wmRead);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"begin 0 0", "begin 1 7", "work 0 3", "work 1 4", "work 0 6",
                                                 "end 1", "end 0"}));
}

TEST(Status, PatternsTakeTheArgumentVerbatim) {
  net::TIdComponent c;
  EventLog log;
  c.ReportStatus(net::hsConnected);  // no handler: nothing happens
  log.Watch(c);
  c.ReportStatus(net::hsResolving, "files");
  c.ReportStatus(net::hsConnecting, "127.0.0.1");
  c.ReportStatus(net::hsConnected, "files");
  c.ReportStatus(net::hsStatusText, "100%s %d");
  c.ReportStatus(net::hsDisconnected);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"status 0 Resolving hostname files.", "status 1 Connecting to 127.0.0.1.",
                                                 "status 2 Connected.", "status 5 100%s %d",
                                                 "status 4 Disconnected."}));
}

}  // namespace
