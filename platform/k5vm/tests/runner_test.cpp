// The runner as a program: it loads agents through JVM_OnLoad (the provider first when a
// profiler asks for JVMPI), plays workloads, reports bad input and shuts the VM down.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string buildDir() { return getenv("VORK_BUILD_DIR") ? getenv("VORK_BUILD_DIR") : "build"; }
std::string sourceDir() { return getenv("VORK_SOURCE_DIR") ? getenv("VORK_SOURCE_DIR") : "."; }

struct Result {
  int code;
  std::string output;  // standard output and error
};

Result run(const std::string& arguments) {
  std::string command = buildDir() + "/bin/k5sim " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Result result{-1, ""};
  if (!pipe) return result;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string temporary(const std::string& name) {
  char folder[] = "/tmp/k5sim-test-XXXXXX";
  static std::string made = mkdtemp(folder) ? folder : "/tmp";
  return made + "/" + name;
}

std::string write(const std::string& name, const std::string& text) {
  std::string path = temporary(name);
  std::ofstream(path) << text;
  return path;
}

std::vector<std::string> lines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> result;
  std::string line;
  while (std::getline(file, line)) result.push_back(line);
  return result;
}

size_t indexOf(const std::vector<std::string>& all, const std::string& prefix) {
  for (size_t i = 0; i < all.size(); i++)
    if (all[i].rfind(prefix, 0) == 0) return i;
  return all.size();
}

// The first line of the event type (the type alone, or followed by its fields).
size_t indexOfEvent(const std::vector<std::string>& all, const std::string& type) {
  for (size_t i = 0; i < all.size(); i++)
    if (all[i] == type || all[i].rfind(type + " ", 0) == 0) return i;
  return all.size();
}

TEST(Runner, ProfilerAloneGetsTheProviderAndEveryMappedEvent) {
  std::string log = temporary("events.log");
  Result result = run("-Xrunk5logprof:" + log);
  ASSERT_EQ(result.code, 0) << result.output;
  std::vector<std::string> events = lines(log);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "46");  // VM initialised
  EXPECT_EQ(events.back(), "47");   // shut down, last
  // The built-in workload drives every standard event the provider maps (dumps aside).
  for (const char* type : {"1", "2", "3", "4", "5", "6", "7", "8", "33", "34", "35", "38", "39", "40", "41", "42",
                           "43", "44", "45", "48", "49", "54", "55", "56", "57", "58", "60", "61"})
    EXPECT_LT(indexOfEvent(events, type), events.size()) << type;
  EXPECT_LT(indexOf(events, "33 Worker-1 workers main"), events.size());
  EXPECT_LT(indexOf(events, "42 demo/Circle methods=4 statics=1 instances=1"), events.size());
  EXPECT_LT(indexOfEvent(events, "34"), indexOfEvent(events, "47"));
}

TEST(Runner, ExampleWorkloadPlaysWithExtensionEvents) {
  std::string log = temporary("tour.log");
  Result result = run("-XrunK5JPI24 -Xrunk5logprof:" + log + ",2018,2013,2014,42 " + sourceDir() +
                      "/platform/k5vm/examples/tour.k5w");
  ASSERT_EQ(result.code, 0) << result.output;
  std::vector<std::string> events = lines(log);
  EXPECT_LT(indexOf(events, "2018 kind=1 size=32"), events.size());
  EXPECT_LT(indexOf(events, "2018 kind=2 size=0"), events.size());
  EXPECT_LT(indexOfEvent(events, "2013"), events.size());
  EXPECT_LT(indexOfEvent(events, "2014"), events.size());
}

TEST(Runner, FailuresAreReportedWithAnExitCode) {
  struct Case {
    std::string arguments;
    int code;
    std::string message;
  } cases[] = {
      {"-XrunNoSuchAgent", 1, "Could not load the agent library"},
      {"-XrunK5JPI24 -XrunK5JPI24", 1, "JVM_OnLoad"},
      {"-Xrun", 1, "No library named"},
      {"-Xanalyze:st=true -Xlibpath:/nonexistent", 1, "/nonexistent/libK5PRF24.so"},
      {write("bad.k5w", "load nowhere/Missing\n"), 1, "line 1: class nowhere/Missing is not declared"},
      {write("step.k5w", "class a/B\nend\nload a/B\nmain frobnicate\n"), 1, "line 4: unknown step frobnicate"},
      {write("open.k5w", "class a/B\n method m ()V\n"), 1, "has no end"},
      {write("thread.k5w", "nobody call a/B.m()V\n"), 1, "unknown step nobody"},
      {write("exit.k5w", "print hello\nshutdown 3\nprint never\n"), 3, "hello"},
      {temporary("missing.k5w"), 1, "cannot read the workload"},
  };
  for (const Case& c : cases) {
    Result result = run(c.arguments);
    EXPECT_EQ(result.code, c.code) << c.arguments << "\n" << result.output;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << c.arguments << "\n" << result.output;
  }
  EXPECT_EQ(run(write("exit2.k5w", "print hello\nshutdown 3\nprint never\n")).output.find("never"), std::string::npos);
}

TEST(Runner, TraceRecordsArePrintedAtTheEnd) {
  std::string log = temporary("trace.log");
  Result result = run("-Xrunk5logprof:" + log + ",47 -Xtrace:k5jvmpi " + write("empty.k5w", "# nothing\n"));
  ASSERT_EQ(result.code, 0) << result.output;
  EXPECT_NE(result.output.find("trace k5jvmpi.0 dispatch 47"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("trace k5jvmpi.1 dispatched 47"), std::string::npos) << result.output;
  Result quiet = run("-Xrunk5logprof:" + log + ",47 " + write("empty2.k5w", "# nothing\n"));
  EXPECT_EQ(quiet.output.find("trace k5jvmpi"), std::string::npos);
}

}  // namespace
