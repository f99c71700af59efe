// The crash handler. Everything it does once a signal arrives is async-signal-safe: no allocation,
// no stdio, no locks; numbers are formatted by hand and the backtrace machinery is warmed up at
// install time so that its first use does not load anything. Whatever else happens, one line on
// standard error says the crash: its signal, its address (or who sent it), and its dump's file or why
// there is none. The line is written before the dump: a backtrace that faults itself (a stack smashed
// past reading) ends the process with the line said and the dump cut short.
//
// One crash is handled, whole: a fatal signal on another thread meanwhile waits for it to end the
// process, and one on the handling thread itself (its dump faulting) ends the process at once. Either
// way the process ends by the signal of the crash that was said.
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
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace Platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAltStackSize = 64 * 1024;
alignas(16) char g_altStack[kAltStackSize];
// The thread whose crash is being handled (its system id), 0 before the first fatal signal, and that
// crash's signal: whatever else faults meanwhile, the process ends by the signal its line names.
std::atomic<long> g_handling{0};
static_assert(std::atomic<long>::is_always_lock_free, "a signal handler takes it");
std::atomic<int> g_handledSignal{0};
// How long a fatal signal on another thread waits for the crash being handled to end the process: past
// it (that handler stuck on a standard error nobody reads), it ends the process by that crash's signal.
constexpr long kWaitForHandlingMs = 5000;
// Later crashes in one second get a number after the time: "CRASH_<...>_<second>-2.dmp" and on.
constexpr int kMostDumpsASecond = 99;
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
      if (written < 0 && errno == EINTR) continue;
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

// The C library's text for the errors a dump's file may meet; strerror itself is not a handler's to call.
const char* ErrorText(int error) {
  switch (error) {
    case EACCES: return "Permission denied";
    case EPERM: return "Operation not permitted";
    case EROFS: return "Read-only file system";
    case ENOSPC: return "No space left on device";
    case EDQUOT: return "Disk quota exceeded";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case EEXIST: return "File exists";
    case ENAMETOOLONG: return "File name too long";
    case ELOOP: return "Too many levels of symbolic links";
    case EMFILE: return "Too many open files";
    case ENFILE: return "Too many open files in system";
    case EIO: return "Input/output error";
    case ENOMEM: return "Cannot allocate memory";
    default: return nullptr;
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

// Opens the dump's file, new: "dumps/CRASH_<time>.dmp", or the first of "...-2.dmp" on that no crash
// has taken. `name` gets the name tried last; errno says why when -1 is returned.
int OpenDumpFile(Line& name, long month0, long day, long seconds) {
  for (int number = 1; number <= kMostDumpsASecond; ++number) {
    name.size = 0;
    name.Add("dumps/CRASH_").Decimal(month0).Add("_").Decimal(day).Add("_").Decimal(seconds / 3600).Add("_");
    name.Decimal(seconds / 60 % 60).Add("_").Decimal(seconds % 60);
    if (number > 1) name.Add("-").Decimal(number);
    name.Add(".dmp");
    name.text[name.size < sizeof(name.text) ? name.size : sizeof(name.text) - 1] = '\0';
    // The folder is not made: no "dumps" folder, no dump.
    const int fd = open(name.text, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
  const long self = syscall(SYS_gettid);
  long handling = 0;
  if (!g_handling.compare_exchange_strong(handling, self)) {
    if (handling == self) {
      // This thread's dump faulted: it is cut short, and the process ends by the crash already said. A
      // signal another process sent meanwhile is let pass: the crash being said ends the process.
      if (info && info->si_code <= 0 && info->si_pid != getpid()) return;
      const int handled = g_handledSignal.load();
      EndBySignal(handled ? handled : signal);
    }
    // Another thread's crash is being said and dumped; it ends the process, or this thread does by its signal.
    for (long waited = 0; waited < kWaitForHandlingMs; ++waited) {
      const timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
    }
    const int handled = g_handledSignal.load();
    EndBySignal(handled ? handled : signal);
  }
  g_handledSignal.store(signal);
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
  const int fd = OpenDumpFile(name, month0, day, seconds);
  const int openError = errno;

  // Sent (kill, abort, raise): the sender, not an address, says where it came from.
  const bool sent = info && info->si_code <= 0;
  Line said;
  said.Add("The game crashed: ").Add(SignalName(signal)).Add(" (signal ").Decimal(signal).Add(")");
  if (sent)
    said.Add(" sent by process ").Decimal(long(info->si_pid));
  else
    said.Add(" at address ").Hex(info ? uint64_t(reinterpret_cast<uintptr_t>(info->si_addr)) : 0);
  if (fd >= 0) {
    said.Add("; its dump is ").Add(name.text).Add(".");
  } else if (openError == ENOENT) {
    said.Add("; no dump was written, as there is no \"dumps\" folder.");
  } else {
    said.Add("; no dump was written, as ").Add(name.text).Add(" could not be made (");
    if (const char* text = ErrorText(openError))
      said.Add(text);
    else
      said.Add("error ").Decimal(openError);
    said.Add(").");
  }
  said.WriteTo(STDERR_FILENO);

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
  EndBySignal(signal);
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

  // The handler stays for the process's life: one thread's crash is handled whole while a fatal
  // signal on another waits (a handler reset to the default on entry would let that one end the
  // process unsaid). The handling thread keeps the other fatal signals unblocked: the system ends the
  // process at once by a fault that is blocked, and by that fault's signal, not the one said.
  struct sigaction action{};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) sigaction(signal, &action, nullptr);
}

ThreadCrashStack::ThreadCrashStack() {
  // Blocked, a fault would end the process unsaid, whatever mask the thread was started with.
  sigset_t fatal;
  sigemptyset(&fatal);
  for (int signal : kFatalSignals) sigaddset(&fatal, signal);
  pthread_sigmask(SIG_UNBLOCK, &fatal, nullptr);
  stack_t current{};
  // A thread the address sanitizer started has a stack of its own already, which it frees itself.
  if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) return;
  void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = kAltStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    munmap(memory, kAltStackSize);
    return;
  }
  m_stack = memory;
}

ThreadCrashStack::~ThreadCrashStack() {
  if (!m_stack) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
  munmap(m_stack, kAltStackSize);
}

void HoldThreadCrashStack() { thread_local const ThreadCrashStack stack; }

}  // namespace Platform
