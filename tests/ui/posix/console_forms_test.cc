#include "ui/posix/console_forms.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "platform/net.h"

namespace vornlink {
namespace {

using namespace std::chrono_literals;

TEST(ConsoleFormsTest, PropertyTableHasTheThreeColumnsOrTheProblem) {
  PropertyList list;
  list.rows = {{"Transport", "TCP", "TP"}, {"Headers", "a\r\nb", "FH"}};
  std::ostringstream out;
  PrintPropertyTable(list, out);
  EXPECT_NE(out.str().find("Data "), std::string::npos);
  EXPECT_NE(out.str().find("Value "), std::string::npos);
  EXPECT_NE(out.str().find("ExtF\n"), std::string::npos);
  EXPECT_NE(
      out.str().find("Transport                        TCP                              TP\n"),
      std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("a\\nb"), std::string::npos);
  EXPECT_NE(out.str().find("2 item(s)"), std::string::npos);

  PropertyList broken;
  broken.problem = "Setup: cannot load x.xml: line 3, column 4: boom";
  std::ostringstream shown;
  PrintPropertyTable(broken, shown);
  EXPECT_NE(shown.str().find(broken.problem), std::string::npos);
}

TEST(ConsoleFormsTest, ServerLoadsRepliesAndShowsRequests) {
  std::unique_ptr<NetListener> probe;
  ASSERT_TRUE(ListenTcp("127.0.0.1", 0, 1, &probe).ok());
  uint16_t port = probe->port();
  probe.reset();

  std::stringstream commands("2\ne\nline one\nline two\n.\ns\nhelp\n");
  std::ostringstream out;
  std::thread client([&] {
    std::this_thread::sleep_for(300ms);
    std::unique_ptr<NetConnection> connection;
    WaitLimit limit = WaitLimit::After(5s, nullptr);
    ASSERT_TRUE(ConnectTcp("127.0.0.1", port, limit, &connection).ok());
    ASSERT_TRUE(connection->SendAll(std::string("<q>job</q>\0", 11), limit).ok());
    char buffer[256];
    size_t received = 0;
    ASSERT_TRUE(connection->Receive(buffer, sizeof buffer, &received, limit).ok());
    EXPECT_EQ(std::string(buffer, received), std::string("line one\r\nline two\0", 19));
  });
  // The form quits at the end of its input: hold the end back until the
  // client is done.
  std::string all = commands.str();
  struct DelayedEnd : std::stringbuf {
    explicit DelayedEnd(const std::string& text) : std::stringbuf(text) {}
    int underflow() override {
      int c = std::stringbuf::underflow();
      if (c == EOF && !waited) {
        waited = true;
        std::this_thread::sleep_for(1500ms);
      }
      return c;
    }
    bool waited = false;
  } buffer(all);
  std::istream in(&buffer);
  EXPECT_TRUE(RunServerConsole(in, out, port, "127.0.0.1"));
  client.join();
  const std::string text = out.str();
  EXPECT_NE(text.find("the server now replies: Job NOTVALID"), std::string::npos) << text;
  EXPECT_NE(text.find("the server replies:\nline one\nline two\n(end of reply)"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Incoming request number -> 1 from 127.0.0.1:"), std::string::npos) << text;
  EXPECT_NE(text.find("<q>job</q>\n(answered with 18 bytes + NUL)"), std::string::npos) << text;
  EXPECT_NE(text.find("commands: 1 Job VALID"), std::string::npos);
  EXPECT_NE(text.find("closed after 1 request(s)"), std::string::npos) << text;
}

}  // namespace
}  // namespace vornlink
