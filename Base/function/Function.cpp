// Bound functions: names and the binding diagnostics.
#include "Base/function/Function.h"

#include <cstdio>
#include <iterator>

#include "Base/TraceLog.h"
#include "Base/function/Thunk.h"

namespace Base {
namespace {

// The report lines of the wrong-count check, by parameter count, for the thunks that return a value
// and those that do not; larger counts continue each family's step.
constexpr int kReturningLines[] = {129, 137, 145, 153, 162};
constexpr int kVoidLines[] = {184, 192, 200, 208, 216, 224};
// The typed calls' count checks for one and two arguments; each argument check follows on the next line.
constexpr int kTypedCallLines[] = {848, 861};

constexpr int kNoObjectLine = 120;
constexpr int kMissingArgumentLine = 121;

int WrongCountLine(unsigned expected, bool returns) {
  if (returns) {
    constexpr unsigned last = std::size(kReturningLines) - 1;
    return expected <= last ? kReturningLines[expected] : kReturningLines[last] + 8 * int(expected - last);
  }
  constexpr unsigned last = std::size(kVoidLines) - 1;
  return expected <= last ? kVoidLines[expected] : kVoidLines[last] + 8 * int(expected - last);
}

int TypedCallLine(unsigned count) {
  if (count <= 2) return kTypedCallLines[count - 1];
  return kTypedCallLines[1] + 13 * int(count - 2);
}

}  // namespace

void Function::SetName(std::string_view qualifiedName) {
  const size_t colon = qualifiedName.rfind(':');
  m_name = colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

namespace detail {

void ReportWrongArgCount(unsigned expected, bool returns) {
  char condition[32];
  std::snprintf(condition, sizeof(condition), "argCount != %u", expected);
  ReportError(condition, kFunctionSource, WrongCountLine(expected, returns), "Wrong overload!");
}

void ReportNoObject() {
  ReportError("object == nullptr", kFunctionSource, kNoObjectLine, "Method called without an object!");
}

void ReportMissingArgument(unsigned index) {
  ReportError("args[i].data == nullptr", kFunctionSource, kMissingArgumentLine, "Argument %u has no value!",
              index);
}

void ReportTypedCallCount(unsigned count) {
  char condition[40];
  std::snprintf(condition, sizeof(condition), "m_sig.ArgCount() != %u", count);
  ReportError(condition, kFunctionSource, TypedCallLine(count), "Wrong Overload!");
}

void ReportTypedCallArg(unsigned index, unsigned count) {
  char condition[48];
  std::snprintf(condition, sizeof(condition), "m_sig.GetArg(%u) != IREF_GET_TYPE(A%u)", index, index + 1);
  ReportError(condition, kFunctionSource, TypedCallLine(count) + 1 + int(index), "Argument type error!");
}

}  // namespace detail
}  // namespace Base
