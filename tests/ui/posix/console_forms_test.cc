#include "ui/posix/console_forms.h"

#include <gtest/gtest.h>

#include <future>
#include <sstream>
#include <thread>

#include "platform/net.h"

namespace vornlink {
namespace {

using namespace std::chrono_literals;

// Every one of `parts` is in `text`.
void ExpectParts(const std::string& text, std::initializer_list<const char*> parts) {
  for (const char* part : parts)
    EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
}

TEST(ConsoleFormsTest, PropertyTableHasTheThreeColumnsOrTheProblem) {
  PropertyList list;
  list.rows = {{"Transport", "TCP", "TP"}, {"Headers", "a\r\nb", "FH"}};
  std::ostringstream out;
  PrintPropertyTable(list, out);
  ExpectParts(out.str(),
              {"Data ", "Value ", "ExtF\n", "a\\nb", "2 item(s)",
               "Transport                        TCP                              TP\n"});
  list.problem = "Setup: cannot load x.xml: line 3, column 4: boom";
  std::ostringstream shown;
  PrintPropertyTable(list, shown);
  ExpectParts(shown.str(), {"Setup: cannot load x.xml: line 3, column 4: boom\n"});
}

// The client asks once the form has read its commands; the form's input
// ends (which closes it) once the client has its answer.
TEST(ConsoleFormsTest, ServerLoadsRepliesAndShowsRequests) {
  std::unique_ptr<NetListener> probe;
  ASSERT_TRUE(ListenTcp("127.0.0.1", 0, 1, &probe).ok());
  uint16_t port = probe->port();
  probe.reset();
  std::promise<void> commands_read, answered;
  std::thread client([&] {
    commands_read.get_future().wait();
    [&] {
      std::unique_ptr<NetConnection> connection;
      WaitLimit limit = WaitLimit::After(5s, nullptr);
      ASSERT_TRUE(ConnectTcp("127.0.0.1", port, limit, &connection).ok());
      ASSERT_TRUE(connection->SendAll(std::string("<q>job</q>\0", 11), limit).ok());
      char buffer[256];
      size_t received = 0;
      ASSERT_TRUE(connection->Receive(buffer, sizeof buffer, &received, limit).ok());
      EXPECT_EQ(std::string(buffer, received), std::string("line one\r\nline two\0", 19));
    }();
    answered.set_value();
  });
  struct HeldEnd : std::stringbuf {
    using std::stringbuf::stringbuf;
    int underflow() override {
      int c = std::stringbuf::underflow();
      if (c == EOF && !held) {
        held = true;
        read->set_value();
        done.wait();
      }
      return c;
    }
    bool held = false;
    std::promise<void>* read = nullptr;
    std::future<void> done;
  } commands("2\ne\nline one\nline two\n.\ns\nhelp\n");
  commands.read = &commands_read;
  commands.done = answered.get_future();
  std::istream in(&commands);
  std::ostringstream out;
  EXPECT_TRUE(RunServerConsole(in, out, port, "127.0.0.1"));
  client.join();
  ExpectParts(out.str(), {"the server now replies: Job NOTVALID",
                          "the server replies:\nline one\nline two\n(end of reply)",
                          "Incoming request number -> 1 from 127.0.0.1:",
                          "<q>job</q>\n(answered with 18 bytes + NUL)", "commands: 1 Job VALID",
                          "closed after 1 request(s)"});
}

}  // namespace
}  // namespace vornlink
