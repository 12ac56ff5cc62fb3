// The plain export `open` opens the stack once, without a VM.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "vork/radio_control.h"

TEST(BtceOpenExport, OpensTheStackOnce) {
  VorkRadio_Configure("local 00:0B:0D:00:00:01 \"PDA\"\n");
  VorkRadio_ResetCounters();
  std::string path = std::string(std::getenv("VORK_BUILD_DIR")) + "/lib/libbrelnaBTCE.so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto open = reinterpret_cast<void (*)(int)>(dlsym(library, "open"));
  ASSERT_NE(open, nullptr);
  open(0);
  open(0);
  EXPECT_EQ(VorkRadio_Counter("stacks"), 1);
  EXPECT_EQ(VorkRadio_Counter("inquiries"), 1) << "the open step starts and stops one inquiry";
  // Only natives and `open` leave the library.
  EXPECT_EQ(dlsym(library, "_ZN4btce5stateEv"), nullptr);
  EXPECT_NE(dlsym(library, "Java_de_brelna_bluetooth_stack_BlueZ_listService"), nullptr);
}
