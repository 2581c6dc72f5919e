// The guest machine: a 32-bit x86 address space in Unicorn where a gauge module's code runs.
//
// The bench calls guest routines through a small thunk in guest memory that pushes nothing of
// its own, calls the routine, and (for routines returning a 64-bit float) stores ST0 to memory,
// so argument passing and float results are marshalled in one place. Guest code reaches the
// bench through traps: each trap is a guest address holding `int 0x2e; ret N`, so a stdcall
// callee pops its own N argument bytes in guest code. Every call runs under an instruction
// budget; a bad memory access, an illegal instruction, an exhausted budget or a broken calling
// convention ends the call with a Fault naming the routine, the guest address and the
// instruction. The engine stays alive across calls (one per machine).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

struct uc_struct;

namespace guest {

enum class FaultKind { BadRead, BadWrite, BadFetch, IllegalInstruction, CpuException, Budget, CallingConvention, HostCall };

const char* FaultKindName(FaultKind kind);

// A guest address or word as people read it: "0x1000F0A4".
std::string Hex(uint64_t value);

// One record for every way a guest call can go wrong.
struct Fault : std::runtime_error {
  Fault(FaultKind kind, std::string routine, uint32_t pc, uint32_t address, std::string instruction,
        std::string detail);
  FaultKind kind;
  std::string routine;      // the routine the bench called, as the bench names it
  uint32_t pc;              // guest address of the faulting instruction
  uint32_t address;         // the memory address involved (bad read/write/fetch), else pc
  std::string instruction;  // disassembly of the faulting instruction, if readable
  std::string detail;
};

// Arguments of a trapped call, read from the guest stack ([esp+4+4*i] at the trap).
class TrapCall {
 public:
  TrapCall(class Machine& machine, uint32_t esp, unsigned argCount);
  uint32_t arg(unsigned i) const;
  int32_t argSigned(unsigned i) const { return static_cast<int32_t>(arg(i)); }
  unsigned argCount() const { return argCount_; }
  uint32_t returnAddress() const;
  Machine& machine() const { return machine_; }

 private:
  Machine& machine_;
  uint32_t esp_;
  unsigned argCount_;
};

// A host routine reached from guest code; its result goes to EAX.
using TrapHandler = std::function<uint32_t(TrapCall&)>;

struct CallResult {
  uint32_t eax = 0;
  double st0 = 0.0;           // for routines returning a 64-bit float
  uint64_t instructions = 0;  // guest instructions this call executed, nested calls included
};

class Machine {
 public:
  // Guest address-space plan.
  static constexpr uint32_t kStackBase = 0x00100000, kStackSize = 0x00100000;
  static constexpr uint32_t kHeapBase = 0x40000000, kHeapSize = 0x01000000;
  static constexpr uint32_t kThunkBase = 0x7FFD0000, kThunkSize = 0x1000;
  static constexpr uint32_t kTrapBase = 0x7FFE0000, kTrapSize = 0x10000, kTrapStride = 8;
  static constexpr uint64_t kDefaultBudget = 1'000'000;

  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Memory. Unmapped or protected accesses from the bench throw std::runtime_error.
  void map(uint32_t address, uint32_t size, uint32_t perms);  // UC_PROT_* bits
  void protect(uint32_t address, uint32_t size, uint32_t perms);
  void write(uint32_t address, const void* data, size_t size);
  void read(uint32_t address, void* data, size_t size) const;
  std::vector<uint8_t> readBytes(uint32_t address, size_t size) const;
  uint32_t read32(uint32_t address) const;
  void write32(uint32_t address, uint32_t value);
  double readDouble(uint32_t address) const;
  void writeDouble(uint32_t address, double value);
  std::string readCString(uint32_t address, size_t maxLength = 256) const;
  bool readable(uint32_t address, size_t size) const;
  // Tells the translation cache that guest code in this range changed.
  void invalidateCode(uint32_t address, uint32_t size);

  // Guest heap for records the host owns (ImageRecords, picture tables, COM objects).
  uint32_t alloc(uint32_t size);
  void free(uint32_t address);
  size_t liveAllocations() const { return live_.size(); }

  // A guest address that runs `handler` when guest code calls it, then returns popping
  // argCount words (stdcall). `name` appears in faults and traces.
  uint32_t addTrap(std::string name, unsigned argCount, TrapHandler handler);
  const std::string& trapName(uint32_t address) const;
  bool isTrap(uint32_t address) const;

  // Calls guest code at `address` with 32-bit arguments (stdcall: the callee pops them).
  CallResult call(uint32_t address, std::span<const uint32_t> args, const std::string& routine,
                  bool returnsDouble = false);

  // The x87 control word guest code starts from; hosts of this era leave it anywhere.
  void setFpuControlWord(uint16_t cw);
  uint16_t fpuControlWord();

  void setBudget(uint64_t instructions) { budget_ = instructions; }
  uint64_t budget() const { return budget_; }
  uint64_t totalInstructions() const { return executed_; }

  // Optional disassembler for fault reports (returns "" if the bytes do not decode).
  std::string disassemble(uint32_t address) const;

 private:
  struct Trap {
    std::string name;
    unsigned argCount;
    TrapHandler handler;
  };
  struct Frame;

  void run(uint32_t start, uint32_t until, const std::string& routine);
  void runFpuSnippet(std::span<const uint8_t> code);
  [[noreturn]] void raiseFromError(int err, const std::string& routine);

  static void OnCode(uc_struct* uc, uint64_t address, uint32_t size, void* self);
  static void OnInterrupt(uc_struct* uc, uint32_t intno, void* self);
  static bool OnInvalidMemory(uc_struct* uc, int type, uint64_t address, int size, int64_t value, void* self);

  uc_struct* uc_ = nullptr;
  std::vector<Trap> traps_;
  uint64_t budget_ = kDefaultBudget;
  uint64_t executed_ = 0;
  uint64_t callStart_ = 0;
  uint64_t callLimit_ = 0;
  bool budgetExceeded_ = false;
  std::optional<uint32_t> pendingTrap_;  // trap index raised by the interrupt hook
  int pendingInterrupt_ = -1;            // an interrupt other than the trap vector
  int memFaultType_ = -1;
  uint32_t memFaultAddress_ = 0;
  uint32_t memFaultPc_ = 0;
  uint32_t heapNext_ = kHeapBase;
  std::vector<std::pair<uint32_t, uint32_t>> freeList_;  // (address, size)
  std::vector<std::pair<uint32_t, uint32_t>> live_;      // (address, size)
  uint32_t stackTop_ = kStackBase + kStackSize - 0x100;
  int depth_ = 0;
  void* disassembler_ = nullptr;  // capstone handle
};

}  // namespace guest
