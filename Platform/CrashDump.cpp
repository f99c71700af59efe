// The crash handler. Everything it does once a signal arrives is async-signal-safe: no allocation,
// no stdio, no locks; numbers are formatted by hand and the backtrace machinery is warmed up at
// install time so that its first use does not load anything. Whatever else happens, one line on
// standard error says the crash: its signal, its address, and its dump's file or why there is none.
//
// Dump format (text, one field per line):
//   ORVANEL CRASH DUMP 1
//   signal <number> <name>
//   code <si_code>
//   address 0x<fault address>
//   pid <process id>
//   time <month from 0>_<day>_<hour>_<minute>_<second>
//   registers
//   <name> 0x<value>            (one line per general register of the interrupted context)
//   backtrace
//   <frames, one per line, as the C library writes them>
//   end
#include "Platform/CrashDump.h"
#include "Platform/ProgramStop.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace Platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAltStackSize = 64 * 1024;
alignas(16) char g_altStack[kAltStackSize];
// Seconds to add to UTC for local time, taken at install: local-time conversion itself may lock.
long g_utcOffset = 0;

// A fixed buffer filled without the C library's formatting.
struct Line {
  char text[256];
  size_t size = 0;

  Line& Add(const char* s) {
    while (*s && size < sizeof(text)) text[size++] = *s++;
    return *this;
  }
  Line& Decimal(long value) {
    char digits[24];
    int count = 0;
    const bool negative = value < 0;
    unsigned long magnitude = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
      digits[count++] = char('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    if (negative && size < sizeof(text)) text[size++] = '-';
    while (count && size < sizeof(text)) text[size++] = digits[--count];
    return *this;
  }
  Line& Hex(uint64_t value) {
    Add("0x");
    for (int shift = 60; shift >= 0; shift -= 4) {
      if (size < sizeof(text)) text[size++] = "0123456789abcdef"[(value >> shift) & 0xf];
    }
    return *this;
  }
  void WriteTo(int fd) {
    Add("\n");
    size_t done = 0;
    while (done < size) {
      const ssize_t written = write(fd, text + done, size - done);
      if (written <= 0) break;
      done += size_t(written);
    }
    size = 0;
  }
};

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(long days, int* month0, int* day) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long dayOfEra = days - era * 146097;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long shiftedMonth = (5 * dayOfYear + 2) / 153;
  *day = int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const long month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *month0 = int(month - 1);
}

void WriteRegisters(int fd, const void* context) {
  Line line;
  line.Add("registers").WriteTo(fd);
  if (!context) return;
  const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  static const struct {
    const char* name;
    int index;
  } kRegisters[] = {{"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP}, {"rax", REG_RAX}, {"rbx", REG_RBX},
                    {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI}, {"rdi", REG_RDI}, {"r8", REG_R8},
                    {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13},
                    {"r14", REG_R14}, {"r15", REG_R15}, {"eflags", REG_EFL}};
  for (const auto& r : kRegisters)
    line.Add(r.name).Add(" ").Hex(uint64_t(uc->uc_mcontext.gregs[r.index])).WriteTo(fd);
#elif defined(__aarch64__)
  for (int i = 0; i < 31; ++i) line.Add("x").Decimal(i).Add(" ").Hex(uc->uc_mcontext.regs[i]).WriteTo(fd);
  line.Add("sp ").Hex(uc->uc_mcontext.sp).WriteTo(fd);
  line.Add("pc ").Hex(uc->uc_mcontext.pc).WriteTo(fd);
#else
  (void)uc;
#endif
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
  // The window system's driver faulting under a display whose server has gone is that display's loss.
  EndIfFaultIsDisplayLoss();
  const long now = long(time(nullptr)) + g_utcOffset;
  long days = now / 86400, seconds = now % 86400;
  if (seconds < 0) {
    seconds += 86400;
    days -= 1;
  }
  int month0 = 0, day = 0;
  CivilFromDays(days, &month0, &day);
  Line name;
  name.Add("dumps/CRASH_").Decimal(month0).Add("_").Decimal(day).Add("_").Decimal(seconds / 3600).Add("_");
  name.Decimal(seconds / 60 % 60).Add("_").Decimal(seconds % 60).Add(".dmp");
  name.text[name.size < sizeof(name.text) ? name.size : sizeof(name.text) - 1] = '\0';

  // The folder is not made: no "dumps" folder, no dump.
  const int fd = open(name.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int openError = errno;
  if (fd >= 0) {
    Line line;
    line.Add("ORVANEL CRASH DUMP 1").WriteTo(fd);
    line.Add("signal ").Decimal(signal).Add(" ").Add(SignalName(signal)).WriteTo(fd);
    line.Add("code ").Decimal(info ? info->si_code : 0).WriteTo(fd);
    line.Add("address ").Hex(info ? uint64_t(reinterpret_cast<uintptr_t>(info->si_addr)) : 0).WriteTo(fd);
    line.Add("pid ").Decimal(long(getpid())).WriteTo(fd);
    line.Add("time ").Decimal(month0).Add("_").Decimal(day).Add("_").Decimal(seconds / 3600).Add("_");
    line.Decimal(seconds / 60 % 60).Add("_").Decimal(seconds % 60).WriteTo(fd);
    WriteRegisters(fd, context);
    line.Add("backtrace").WriteTo(fd);
    void* frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);
    line.Add("end").WriteTo(fd);
    close(fd);
  }
  Line said;
  said.Add("The game crashed: ").Add(SignalName(signal)).Add(" (signal ").Decimal(signal).Add(") at address ");
  said.Hex(info ? uint64_t(reinterpret_cast<uintptr_t>(info->si_addr)) : 0);
  if (fd >= 0)
    said.Add("; its dump is ").Add(name.text).Add(".");
  else if (openError == ENOENT)
    said.Add("; no dump was written, as there is no \"dumps\" folder.");
  else
    said.Add("; no dump was written, as ").Add(name.text).Add(" could not be made (error ").Decimal(openError).Add(").");
  said.WriteTo(STDERR_FILENO);
  // The handler was reset to the default on entry: the signal, raised again, ends the process as it
  // would have without us (it is delivered once this handler returns).
  raise(signal);
}

}  // namespace

void InstallCrashHandler() {
  tzset();
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local)) g_utcOffset = local.tm_gmtoff;
  // The first backtrace loads the unwinder; do it now, not inside a signal handler.
  void* warmUp[1];
  backtrace(warmUp, 1);

  stack_t stack{};
  stack.ss_sp = g_altStack;
  stack.ss_size = sizeof(g_altStack);
  stack.ss_flags = 0;
  sigaltstack(&stack, nullptr);

  struct sigaction action{};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) sigaction(signal, &action, nullptr);
}

}  // namespace Platform
