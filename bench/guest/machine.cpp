#include "machine.h"

#include <capstone/capstone.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace guest {
namespace {

constexpr uint8_t kTrapVector = 0x2E;
// Thunk layout in the thunk page: the bench pushes the arguments and a return address of its
// own, then the thunk calls the routine in EAX and, for float results, stores ST0.
constexpr uint32_t kCallThunk = Machine::kThunkBase;             // call eax ; <stop>
constexpr uint32_t kCallThunkStop = kCallThunk + 2;
constexpr uint32_t kFloatThunk = Machine::kThunkBase + 0x10;     // call eax ; fstp qword [r] ; <stop>
constexpr uint32_t kFloatThunkStop = kFloatThunk + 2 + 6;
constexpr uint32_t kFloatResult = Machine::kThunkBase + 0x800;
constexpr uint32_t kSnippet = Machine::kThunkBase + 0x100;       // FPU set-up snippets
constexpr uint32_t kScratch = Machine::kThunkBase + 0x900;

void Check(uc_err err, const char* what) {
  if (err != UC_ERR_OK) throw std::runtime_error(std::string(what) + ": " + uc_strerror(err));
}

}  // namespace

std::string Hex(uint64_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << std::uppercase << v;
  return s.str();
}

const char* FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::BadRead: return "bad read";
    case FaultKind::BadWrite: return "bad write";
    case FaultKind::BadFetch: return "bad fetch";
    case FaultKind::IllegalInstruction: return "illegal instruction";
    case FaultKind::CpuException: return "CPU exception";
    case FaultKind::Budget: return "instruction budget exhausted";
    case FaultKind::CallingConvention: return "calling convention broken";
    case FaultKind::HostCall: return "unsupported host call";
  }
  return "fault";
}

static std::string FaultMessage(FaultKind kind, const std::string& routine, uint32_t pc,
                                uint32_t address, const std::string& instruction,
                                const std::string& detail) {
  std::string m = "guest fault in " + routine + ": " + FaultKindName(kind);
  if (kind == FaultKind::BadRead || kind == FaultKind::BadWrite || kind == FaultKind::BadFetch)
    m += " at " + Hex(address);
  if (!detail.empty()) m += " (" + detail + ")";
  m += ", pc " + Hex(pc);
  if (!instruction.empty()) m += ": " + instruction;
  return m;
}

Fault::Fault(FaultKind k, std::string r, uint32_t p, uint32_t a, std::string i, std::string d)
    : std::runtime_error(FaultMessage(k, r, p, a, i, d)),
      kind(k), routine(std::move(r)), pc(p), address(a), instruction(std::move(i)), detail(std::move(d)) {}

TrapCall::TrapCall(Machine& machine, uint32_t esp, unsigned argCount)
    : machine_(machine), esp_(esp), argCount_(argCount) {}

uint32_t TrapCall::arg(unsigned i) const {
  if (i >= argCount_) throw std::logic_error("trap argument index out of range");
  return machine_.read32(esp_ + 4 + 4 * i);
}

uint32_t TrapCall::returnAddress() const { return machine_.read32(esp_); }

Machine::Machine() {
  Check(uc_open(UC_ARCH_X86, UC_MODE_32, &uc_), "uc_open");
  // The simulator's processors: a Pentium II class i686. (The engine does not enforce the
  // model; the absence of MMX/SSE is proven by disassembly instead.)
  uc_ctl_set_cpu_model(uc_, UC_CPU_X86_PENTIUM2);
  map(kStackBase, kStackSize, UC_PROT_READ | UC_PROT_WRITE);
  map(kHeapBase, kHeapSize, UC_PROT_READ | UC_PROT_WRITE);
  map(kThunkBase, kThunkSize, UC_PROT_ALL);
  map(kTrapBase, kTrapSize, UC_PROT_READ | UC_PROT_EXEC);
  const uint8_t callThunk[] = {0xFF, 0xD0};  // call eax
  write(kCallThunk, callThunk, sizeof callThunk);
  uint8_t floatThunk[8] = {0xFF, 0xD0, 0xDD, 0x1D};  // call eax ; fstp qword [kFloatResult]
  const uint32_t result = kFloatResult;
  std::memcpy(floatThunk + 4, &result, 4);
  write(kFloatThunk, floatThunk, sizeof floatThunk);

  uc_hook hook;
  Check(uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&Machine::OnCode), this, 1, 0), "hook code");
  Check(uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&Machine::OnInterrupt), this, 1, 0), "hook intr");
  Check(uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&Machine::OnInvalidMemory), this, 1, 0),
        "hook mem");

  csh cs;
  if (cs_open(CS_ARCH_X86, CS_MODE_32, &cs) == CS_ERR_OK) disassembler_ = reinterpret_cast<void*>(cs);

  // A fresh engine starts with control word 0 and every x87 register tagged in use: give guest
  // code the state Windows gives a process (empty stack, 53-bit precision, exceptions masked).
  const uint8_t fninit[] = {0xDB, 0xE3};
  runFpuSnippet(fninit);
  setFpuControlWord(0x027F);
}

Machine::~Machine() {
  if (disassembler_ != nullptr) {
    csh cs = reinterpret_cast<csh>(disassembler_);
    cs_close(&cs);
  }
  if (uc_ != nullptr) uc_close(uc_);
}

void Machine::map(uint32_t address, uint32_t size, uint32_t perms) {
  Check(uc_mem_map(uc_, address, size, perms), ("map " + Hex(address)).c_str());
}

void Machine::protect(uint32_t address, uint32_t size, uint32_t perms) {
  Check(uc_mem_protect(uc_, address, size, perms), ("protect " + Hex(address)).c_str());
}

void Machine::write(uint32_t address, const void* data, size_t size) {
  if (size == 0) return;
  if (uc_mem_write(uc_, address, data, size) != UC_ERR_OK)
    throw std::runtime_error("write of " + std::to_string(size) + " bytes to unmapped guest memory at " + Hex(address));
}

void Machine::read(uint32_t address, void* data, size_t size) const {
  if (size == 0) return;
  if (uc_mem_read(uc_, address, data, size) != UC_ERR_OK)
    throw std::runtime_error("read of " + std::to_string(size) + " bytes from unmapped guest memory at " + Hex(address));
}

std::vector<uint8_t> Machine::readBytes(uint32_t address, size_t size) const {
  std::vector<uint8_t> bytes(size);
  read(address, bytes.data(), size);
  return bytes;
}

uint32_t Machine::read32(uint32_t address) const {
  uint32_t v;
  read(address, &v, 4);
  return v;
}

void Machine::write32(uint32_t address, uint32_t value) { write(address, &value, 4); }

double Machine::readDouble(uint32_t address) const {
  double v;
  read(address, &v, 8);
  return v;
}

void Machine::writeDouble(uint32_t address, double value) { write(address, &value, 8); }

std::string Machine::readCString(uint32_t address, size_t maxLength) const {
  std::string s;
  for (size_t i = 0; i < maxLength; ++i) {
    char c;
    read(address + static_cast<uint32_t>(i), &c, 1);
    if (c == 0) return s;
    s.push_back(c);
  }
  throw std::runtime_error("string at " + Hex(address) + " is not terminated within " + std::to_string(maxLength) + " bytes");
}

bool Machine::readable(uint32_t address, size_t size) const {
  std::vector<uint8_t> scratch(size);
  return size == 0 || uc_mem_read(uc_, address, scratch.data(), size) == UC_ERR_OK;
}

void Machine::invalidateCode(uint32_t address, uint32_t size) {
  uc_ctl_remove_cache(uc_, address, static_cast<uint64_t>(address) + size);
}

uint32_t Machine::alloc(uint32_t size) {
  const uint32_t rounded = std::max<uint32_t>(16, (size + 15) & ~15u);
  for (auto it = freeList_.begin(); it != freeList_.end(); ++it) {
    if (it->second >= rounded) {
      const uint32_t address = it->first;
      if (it->second == rounded) {
        freeList_.erase(it);
      } else {
        it->first += rounded;
        it->second -= rounded;
      }
      live_.emplace_back(address, rounded);
      std::vector<uint8_t> zero(rounded, 0);
      write(address, zero.data(), zero.size());
      return address;
    }
  }
  if (heapNext_ + rounded > kHeapBase + kHeapSize || heapNext_ + rounded < heapNext_)
    throw std::runtime_error("guest heap exhausted");
  const uint32_t address = heapNext_;
  heapNext_ += rounded;
  live_.emplace_back(address, rounded);
  std::vector<uint8_t> zero(rounded, 0);
  write(address, zero.data(), zero.size());
  return address;
}

void Machine::free(uint32_t address) {
  auto it = std::find_if(live_.begin(), live_.end(), [&](auto& a) { return a.first == address; });
  if (it == live_.end()) throw std::runtime_error("free of " + Hex(address) + ", which is not a live guest allocation");
  freeList_.push_back(*it);
  live_.erase(it);
}

uint32_t Machine::addTrap(std::string name, unsigned argCount, TrapHandler handler) {
  const uint32_t index = static_cast<uint32_t>(traps_.size());
  if ((index + 1) * kTrapStride > kTrapSize) throw std::runtime_error("too many host traps");
  if (argCount > 16) throw std::logic_error("trap with more than 16 arguments");
  const uint32_t address = kTrapBase + index * kTrapStride;
  // int 0x2e ; ret 4*argCount (or ret)
  uint8_t code[kTrapStride] = {0xCD, kTrapVector, 0xC2, static_cast<uint8_t>(argCount * 4), 0x00, 0x90, 0x90, 0x90};
  if (argCount == 0) code[2] = 0xC3, code[3] = 0x90, code[4] = 0x90;
  write(address, code, sizeof code);
  traps_.push_back({std::move(name), argCount, std::move(handler)});
  return address;
}

bool Machine::isTrap(uint32_t address) const {
  return address >= kTrapBase && address < kTrapBase + traps_.size() * kTrapStride &&
         (address - kTrapBase) % kTrapStride == 0;
}

const std::string& Machine::trapName(uint32_t address) const {
  static const std::string none;
  if (!isTrap(address)) return none;
  return traps_[(address - kTrapBase) / kTrapStride].name;
}

void Machine::OnCode(uc_struct* uc, uint64_t, uint32_t, void* self) {
  auto* m = static_cast<Machine*>(self);
  ++m->executed_;
  if (m->executed_ - m->callStart_ > m->callLimit_ && !m->budgetExceeded_) {
    m->budgetExceeded_ = true;
    uc_emu_stop(uc);
  }
}

void Machine::OnInterrupt(uc_struct* uc, uint32_t intno, void* self) {
  auto* m = static_cast<Machine*>(self);
  uint32_t eip = 0;
  uc_reg_read(uc, UC_X86_REG_EIP, &eip);
  if (intno == kTrapVector && eip >= kTrapBase && eip < kTrapBase + kTrapSize) {
    m->pendingTrap_ = (eip - kTrapBase) / kTrapStride;
  } else {
    m->pendingInterrupt_ = static_cast<int>(intno);
  }
  uc_emu_stop(uc);
}

bool Machine::OnInvalidMemory(uc_struct* uc, int type, uint64_t address, int, int64_t, void* self) {
  auto* m = static_cast<Machine*>(self);
  m->memFaultType_ = type;
  m->memFaultAddress_ = static_cast<uint32_t>(address);
  uc_reg_read(uc, UC_X86_REG_EIP, &m->memFaultPc_);
  return false;
}

std::string Machine::disassemble(uint32_t address) const {
  if (disassembler_ == nullptr) return "";
  uint8_t bytes[16];
  size_t n = 0;
  while (n < sizeof bytes && uc_mem_read(uc_, address + n, bytes + n, 1) == UC_ERR_OK) ++n;
  if (n == 0) return "";
  csh cs = reinterpret_cast<csh>(disassembler_);
  cs_insn* insn = nullptr;
  std::string text;
  if (cs_disasm(cs, bytes, n, address, 1, &insn) == 1) {
    text = std::string(insn->mnemonic) + (insn->op_str[0] ? " " : "") + insn->op_str;
    cs_free(insn, 1);
  }
  return text;
}

void Machine::raiseFromError(int err, const std::string& routine) {
  uint32_t eip = 0;
  uc_reg_read(uc_, UC_X86_REG_EIP, &eip);
  switch (err) {
    case UC_ERR_READ_UNMAPPED:
    case UC_ERR_READ_PROT:
    case UC_ERR_READ_UNALIGNED:
      throw Fault(FaultKind::BadRead, routine, memFaultPc_, memFaultAddress_, disassemble(memFaultPc_), "");
    case UC_ERR_WRITE_UNMAPPED:
    case UC_ERR_WRITE_PROT:
    case UC_ERR_WRITE_UNALIGNED:
      throw Fault(FaultKind::BadWrite, routine, memFaultPc_, memFaultAddress_, disassemble(memFaultPc_), "");
    case UC_ERR_FETCH_UNMAPPED:
    case UC_ERR_FETCH_PROT:
    case UC_ERR_FETCH_UNALIGNED:
      throw Fault(FaultKind::BadFetch, routine, memFaultAddress_, memFaultAddress_, "", "");
    case UC_ERR_INSN_INVALID:
      throw Fault(FaultKind::IllegalInstruction, routine, eip, eip, disassemble(eip), "");
    default:
      throw Fault(FaultKind::CpuException, routine, eip, eip, disassemble(eip), uc_strerror(static_cast<uc_err>(err)));
  }
}

void Machine::run(uint32_t start, uint32_t until, const std::string& routine) {
  uint32_t pc = start;
  for (;;) {
    pendingTrap_.reset();
    pendingInterrupt_ = -1;
    memFaultType_ = -1;
    const uc_err err = uc_emu_start(uc_, pc, until, 0, 0);
    if (budgetExceeded_) {
      uint32_t eip = 0;
      uc_reg_read(uc_, UC_X86_REG_EIP, &eip);
      throw Fault(FaultKind::Budget, routine, eip, eip, disassemble(eip),
                  "more than " + std::to_string(callLimit_) + " instructions");
    }
    if (err != UC_ERR_OK) raiseFromError(err, routine);
    uint32_t eip = 0;
    uc_reg_read(uc_, UC_X86_REG_EIP, &eip);
    if (pendingTrap_) {
      Trap& trap = traps_[*pendingTrap_];
      const uint32_t trapAddress = kTrapBase + *pendingTrap_ * kTrapStride;
      if (trap.handler == nullptr) {
        throw Fault(FaultKind::HostCall, routine, trapAddress, trapAddress, "", trap.name);
      }
      uint32_t esp = 0;
      uc_reg_read(uc_, UC_X86_REG_ESP, &esp);
      TrapCall call(*this, esp, trap.argCount);
      // The handler may call back into guest code: keep this call's CPU state aside.
      uc_context* saved = nullptr;
      Check(uc_context_alloc(uc_, &saved), "context alloc");
      uc_context_save(uc_, saved);
      uint32_t result = 0;
      try {
        result = trap.handler(call);
      } catch (...) {
        uc_context_restore(uc_, saved);
        uc_context_free(saved);
        throw;
      }
      uc_context_restore(uc_, saved);
      uc_context_free(saved);
      uc_reg_write(uc_, UC_X86_REG_EAX, &result);
      pc = eip;  // the trap's `ret N`
      continue;
    }
    if (pendingInterrupt_ >= 0) {
      const std::string what = pendingInterrupt_ == 0 ? "divide error" : pendingInterrupt_ == 3 ? "breakpoint" :
                               pendingInterrupt_ == 6 ? "invalid opcode" : "interrupt " + std::to_string(pendingInterrupt_);
      const FaultKind kind = pendingInterrupt_ == 6 ? FaultKind::IllegalInstruction : FaultKind::CpuException;
      throw Fault(kind, routine, eip, eip, disassemble(eip), what);
    }
    if (eip == until) return;
    throw Fault(FaultKind::CpuException, routine, eip, eip, disassemble(eip), "emulation stopped unexpectedly");
  }
}

CallResult Machine::call(uint32_t address, std::span<const uint32_t> args, const std::string& routine,
                         bool returnsDouble) {
  // Top-level calls start from the top of the stack; nested ones (from a trap handler) below
  // the caller's frame.
  uint32_t esp = stackTop_;
  if (depth_ > 0) {
    uc_reg_read(uc_, UC_X86_REG_ESP, &esp);
    esp = (esp - 64) & ~15u;
  }
  if (esp < kStackBase + 0x1000 + 4 * args.size()) throw Fault(FaultKind::CpuException, routine, address, address, "", "guest stack exhausted");
  for (size_t i = args.size(); i-- > 0;) {
    esp -= 4;
    write32(esp, args[i]);
  }
  const uint32_t expectedEsp = esp;  // after the callee pops its arguments and our return address
  uc_reg_write(uc_, UC_X86_REG_ESP, &esp);
  uc_reg_write(uc_, UC_X86_REG_EAX, &address);

  const bool outer = depth_ == 0;
  if (outer) {
    callStart_ = executed_;
    callLimit_ = budget_;
    budgetExceeded_ = false;
  }
  const uint64_t before = executed_;
  ++depth_;
  try {
    run(returnsDouble ? kFloatThunk : kCallThunk, returnsDouble ? kFloatThunkStop : kCallThunkStop, routine);
  } catch (...) {
    --depth_;
    throw;
  }
  --depth_;

  uint32_t espAfter = 0;
  uc_reg_read(uc_, UC_X86_REG_ESP, &espAfter);
  const uint32_t expectedAfter = expectedEsp + 4 * static_cast<uint32_t>(args.size());
  if (espAfter != expectedAfter) {
    throw Fault(FaultKind::CallingConvention, routine, address, address, "",
                "returned with the stack " + std::to_string(static_cast<int32_t>(espAfter - expectedAfter)) +
                    " bytes off: not a stdcall routine taking " + std::to_string(args.size()) + " arguments");
  }
  CallResult result;
  uc_reg_read(uc_, UC_X86_REG_EAX, &result.eax);
  if (returnsDouble) result.st0 = readDouble(kFloatResult);
  result.instructions = executed_ - before - (returnsDouble ? 2 : 1);  // the thunk's own instructions
  return result;
}

void Machine::runFpuSnippet(std::span<const uint8_t> code) {
  std::vector<uint8_t> bytes(code.begin(), code.end());
  write(kSnippet, bytes.data(), bytes.size());
  invalidateCode(kSnippet, static_cast<uint32_t>(bytes.size()));
  callStart_ = executed_;
  callLimit_ = 100;
  budgetExceeded_ = false;
  const uint64_t before = executed_;
  run(kSnippet, kSnippet + static_cast<uint32_t>(bytes.size()), "FPU set-up");
  executed_ = before;
}

void Machine::setFpuControlWord(uint16_t cw) {
  write(kScratch, &cw, 2);
  uint8_t fldcw[6] = {0xD9, 0x2D};  // fldcw [kScratch]
  const uint32_t scratch = kScratch;
  std::memcpy(fldcw + 2, &scratch, 4);
  runFpuSnippet(fldcw);
}

uint16_t Machine::fpuControlWord() {
  uint8_t fnstcw[6] = {0xD9, 0x3D};  // fnstcw [kScratch]
  const uint32_t scratch = kScratch;
  std::memcpy(fnstcw + 2, &scratch, 4);
  runFpuSnippet(fnstcw);
  uint16_t cw;
  read(kScratch, &cw, 2);
  return cw;
}

}  // namespace guest
