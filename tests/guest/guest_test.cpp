// The guest machine on tiny code snippets: faults become reports naming routine and address,
// the call thunk marshals stdcall arguments and float results, traps reach host handlers.
#include "machine.h"

#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kCode = 0x10001000;

class GuestTest : public ::testing::Test {
 protected:
  GuestTest() { machine.map(kCode & ~0xFFFu, 0x10000, UC_PROT_ALL); }
  uint32_t Load(std::vector<uint8_t> code, uint32_t at = kCode) {
    machine.write(at, code.data(), code.size());
    machine.invalidateCode(at, static_cast<uint32_t>(code.size()));
    return at;
  }
  guest::Machine machine;
};

TEST_F(GuestTest, FaultsNameRoutineAddressAndInstruction) {
  struct Case {
    const char* name;
    std::vector<uint8_t> code;
    guest::FaultKind kind;
    uint32_t address;
  };
  const std::vector<Case> cases = {
      // mov eax, 0xdeadbeef ; mov eax, [eax]
      {"bad read", {0xB8, 0xEF, 0xBE, 0xAD, 0xDE, 0x8B, 0x00}, guest::FaultKind::BadRead, 0xDEADBEEF},
      // mov eax, 0x10 ; mov [eax], eax
      {"bad write", {0xB8, 0x10, 0, 0, 0, 0x89, 0x00}, guest::FaultKind::BadWrite, 0x10},
      // mov eax, 0x12345678 ; jmp eax
      {"bad fetch", {0xB8, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xE0}, guest::FaultKind::BadFetch, 0x12345678},
      // ud2
      {"illegal", {0x0F, 0x0B}, guest::FaultKind::IllegalInstruction, kCode},
      // xor ecx, ecx ; div ecx
      {"divide", {0x31, 0xC9, 0xF7, 0xF1}, guest::FaultKind::CpuException, kCode + 2},
      // jmp $
      {"runaway", {0xEB, 0xFE}, guest::FaultKind::Budget, kCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Load(c.code);
    machine.setBudget(10'000);
    try {
      machine.call(kCode, {}, "TestRoutine");
      FAIL() << "no fault";
    } catch (const guest::Fault& f) {
      EXPECT_EQ(f.kind, c.kind) << f.what();
      EXPECT_EQ(f.address, c.address) << f.what();
      EXPECT_NE(std::string(f.what()).find("TestRoutine"), std::string::npos) << f.what();
    }
    // The machine keeps working after a fault.
    Load({0xB8, 42, 0, 0, 0, 0xC3});  // mov eax, 42 ; ret
    EXPECT_EQ(machine.call(kCode, {}, "after").eax, 42u);
  }
}

TEST_F(GuestTest, BadReadReportsTheFaultingInstruction) {
  Load({0xB8, 0xEF, 0xBE, 0xAD, 0xDE, 0x8B, 0x00});
  try {
    machine.call(kCode, {}, "Reader");
    FAIL();
  } catch (const guest::Fault& f) {
    EXPECT_EQ(f.pc, kCode + 5);
    EXPECT_EQ(f.instruction, "mov eax, dword ptr [eax]");
  }
}

TEST_F(GuestTest, StdcallArgumentsRoundTripAndCalleeMustPopThem) {
  // mov eax, [esp+4] ; sub eax, [esp+8] ; ret 8
  Load({0x8B, 0x44, 0x24, 0x04, 0x2B, 0x44, 0x24, 0x08, 0xC2, 0x08, 0x00});
  const uint32_t args[] = {100, 58};
  EXPECT_EQ(machine.call(kCode, args, "Sub").eax, 42u);
  // The same routine returning with a plain ret leaves its arguments on the stack.
  Load({0x8B, 0x44, 0x24, 0x04, 0xC3});
  EXPECT_THROW(machine.call(kCode, args, "Cdecl"), guest::Fault);
}

TEST_F(GuestTest, FloatResultComesFromSt0) {
  // fld qword [esp+4] ; fadd st0, st0 ; ret 8
  Load({0xDD, 0x44, 0x24, 0x04, 0xD8, 0xC0, 0xC2, 0x08, 0x00});
  const double x = 1.25;
  uint32_t words[2];
  std::memcpy(words, &x, 8);
  const auto r = machine.call(kCode, words, "Double", true);
  EXPECT_EQ(r.st0, 2.5);
  // Every call leaves the x87 stack as it found it, so repeated calls keep working.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(machine.call(kCode, words, "Double", true).st0, 2.5);
}

TEST_F(GuestTest, TrapsReachHostHandlersAndMayCallBackIntoGuest) {
  // Callback routine: mov eax, [esp+4] ; add eax, 1 ; ret 4
  const uint32_t callback = Load({0x8B, 0x44, 0x24, 0x04, 0x83, 0xC0, 0x01, 0xC2, 0x04, 0x00}, kCode + 0x100);
  std::vector<uint32_t> seen;
  const uint32_t trap = machine.addTrap("HostTwice", 2, [&](guest::TrapCall& call) {
    seen = {call.arg(0), call.arg(1)};
    const uint32_t inner[] = {call.arg(0)};
    return call.machine().call(callback, inner, "callback").eax * 2;
  });
  // push 7 ; push 5 ; mov eax, trap ; call eax ; add eax, 1000 ; ret
  std::vector<uint8_t> code = {0x6A, 0x07, 0x6A, 0x05, 0xB8};
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(trap >> (8 * i)));
  code.insert(code.end(), {0xFF, 0xD0, 0x05, 0xE8, 0x03, 0x00, 0x00, 0xC3});
  Load(code);
  const auto r = machine.call(kCode, {}, "Caller");
  EXPECT_EQ(r.eax, (5u + 1u) * 2u + 1000u);
  EXPECT_EQ(seen, (std::vector<uint32_t>{5, 7}));
  EXPECT_EQ(machine.trapName(trap), "HostTwice");
}

TEST_F(GuestTest, TrapWithoutHandlerIsAFaultNamingIt) {
  const uint32_t trap = machine.addTrap("slot 5 (not implemented by the bench)", 0, nullptr);
  std::vector<uint8_t> code = {0xB8};
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(trap >> (8 * i)));
  code.insert(code.end(), {0xFF, 0xD0, 0xC3});
  Load(code);
  try {
    machine.call(kCode, {}, "Caller");
    FAIL();
  } catch (const guest::Fault& f) {
    EXPECT_EQ(f.kind, guest::FaultKind::HostCall);
    EXPECT_NE(std::string(f.what()).find("slot 5"), std::string::npos) << f.what();
  }
}

TEST_F(GuestTest, InstructionCountsAreExactAndRepeatable) {
  // mov eax, 1 ; add eax, 2 ; ret
  Load({0xB8, 0x01, 0, 0, 0, 0x83, 0xC0, 0x02, 0xC3});
  EXPECT_EQ(machine.call(kCode, {}, "Three").instructions, 3u);
  EXPECT_EQ(machine.call(kCode, {}, "Three").instructions, 3u);
}

TEST_F(GuestTest, FpuStartsInitialisedAndControlWordIsSettable) {
  EXPECT_EQ(machine.fpuControlWord(), 0x027F);
  machine.setFpuControlWord(0x087F);  // 24-bit precision, round up
  EXPECT_EQ(machine.fpuControlWord(), 0x087F);
}

TEST_F(GuestTest, HeapReusesFreedBlocksAndZeroesThem) {
  const uint32_t a = machine.alloc(40);
  machine.write32(a, 0xFFFFFFFF);
  machine.free(a);
  const uint32_t b = machine.alloc(40);
  EXPECT_EQ(a, b);
  EXPECT_EQ(machine.read32(b), 0u);
  EXPECT_THROW(machine.free(b + 4), std::runtime_error);
  EXPECT_EQ(machine.liveAllocations(), 1u);
}

}  // namespace
