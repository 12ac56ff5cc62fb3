// JVM_OnLoad: which port library the agent takes, and its start through GetEnv.
#include <gtest/gtest.h>

#include <cstring>

#include "agent_fixture.h"
#include "k5vm.h"
#include "xt_agent.h"

extern "C" jint JVM_OnLoad(JavaVM* vm, char* options, void* reserved);

namespace {

// A VM record as far as the agent reads it: the invocation table, a reserved word, the
// identifier word and the port library.
struct FakeVm {
  const JNIInvokeInterface_* functions;
  void* reserved0;
  uintptr_t identifier;
  K5PortLibrary* portLibrary;
};

JVMPI_Interface* offered = nullptr;  // what GetEnv hands out (none: it fails)
int getEnvCalls = 0;
jint requestedVersion = 0;

jint JNICALL getEnv(JavaVM*, void** env, jint version) {
  ++getEnvCalls;
  requestedVersion = version;
  if (offered == nullptr) return JNI_EVERSION;
  *env = offered;
  return JNI_OK;
}

class XmlTraceEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::world = &world_;
    table_ = fake::makeInterface();
    std::memset(&invoke_, 0, sizeof(invoke_));
    invoke_.GetEnv = getEnv;
    vm_ = FakeVm{&invoke_, nullptr, 0, nullptr};
    offered = nullptr;
    getEnvCalls = 0;
  }
  void TearDown() override {
    for (auto& entry : world_.tls) std::free(entry.second);
    xt::agentReset();
    fake::world = nullptr;
  }
  jint load(const char* options) {
    std::string copy = options;
    return JVM_OnLoad(reinterpret_cast<JavaVM*>(&vm_), &copy[0], nullptr);
  }

  fake::World world_;
  JVMPI_Interface table_;
  JNIInvokeInterface_ invoke_;
  FakeVm vm_;
};

TEST_F(XmlTraceEntry, WithoutJvmpiTheAgentDoesNotStart) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(load("stderr"), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "k5profile: Failed to get JVMPI Interface\n");
  EXPECT_EQ(getEnvCalls, 1);
  EXPECT_EQ(requestedVersion, JVMPI_VERSION_1);
  EXPECT_TRUE(world_.enabled.empty());
}

TEST_F(XmlTraceEntry, TakesTheVmsPortLibraryWhenTheRecordSaysK5VM) {
  K5PortLibraryVersion version{};
  version.majorVersionNumber = 14;
  version.capabilities = 7;
  K5PortLibrary* library = nullptr;
  ASSERT_EQ(k5port_allocate_library(&version, &library), 0);
  ASSERT_EQ(k5port_startup_library(library), 0);
  vm_.identifier = K5VM_IDENTIFIER;
  vm_.portLibrary = library;
  offered = &table_;
  EXPECT_EQ(load("quiet,filters=/nonexistent"), 0);
  EXPECT_EQ(xt::agent.port.context, library);
  EXPECT_EQ(world_.enabled.size(), 11u);
  EXPECT_NE(table_.NotifyEvent, nullptr);
  xt::agentReset();
  library->port_shutdown_library(library);
}

TEST_F(XmlTraceEntry, MakesItsOwnPortLibraryOtherwise) {
  offered = &table_;
  EXPECT_EQ(load("quiet,mode=memory,filters=/nonexistent"), 0);
  ASSERT_NE(xt::agent.port.context, nullptr);
  EXPECT_EQ(world_.enabled.size(), 9u);
  void* first = xt::agent.port.context;
  xt::agentReset();
  EXPECT_EQ(load("quiet,filters=/nonexistent"), 0);
  EXPECT_EQ(xt::agent.port.context, first);  // made once, then kept
}

}  // namespace
