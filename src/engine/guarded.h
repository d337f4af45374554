// Every operation of the driver object catches its own exceptions: the host
// must never see one. The failure is reported only as the exception line
// "D：Class.Operation异常！" CR LF, and only when the error switch is on.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

// The unwinding of a cancelled thread carries no exception object, so the
// handler that lets it through binds a null reference; the undefined
// behaviour sanitizer would stop the thread there.
#if defined(__GNUC__)
#define TK571_LETS_CANCELLATION_THROUGH __attribute__((no_sanitize("null")))
#else
#define TK571_LETS_CANCELLATION_THROUGH
#endif

namespace tk571 {

// What the exception line needs from a driver object: its error switch and
// its log writer (`SetLogMsg`, which descendants may override).
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual bool LogErrors() const = 0;
  virtual void SetLogMsg(std::string_view text) = 0;
};

// D + "：" + class + "." + operation + "异常！" + CR LF.
std::string ExceptionLine(std::string_view class_name, std::string_view operation);

// Writes the exception line when the sink's error switch is on. Throws
// nothing but thread cancellation.
void WriteExceptionLine(LogSink& sink, std::string_view class_name, std::string_view operation);

// Runs `body` and returns its result, or `failure` when it throws anything.
// Thread cancellation is let through: glibc unwinds a cancelled thread with an
// exception that must not be swallowed.
template <class F>
TK571_LETS_CANCELLATION_THROUGH auto CatchAll(F&& body, std::invoke_result_t<F> failure = {})
    -> std::invoke_result_t<F> {
  try {
    return std::forward<F>(body)();
#if defined(__GLIBCXX__)
  } catch (const abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {
    return failure;
  }
}

// One guarded operation; the result type is the body's:
//   return Guarded(*this, "TBaseDLLObject", "IniParm", false, [&] { ...; return true; });
template <class F, class R = std::invoke_result_t<F>>
TK571_LETS_CANCELLATION_THROUGH R Guarded(LogSink& sink, std::string_view class_name,
                                          std::string_view operation,
                                          std::type_identity_t<R> failure, F&& body) {
  try {
    return std::forward<F>(body)();
#if defined(__GLIBCXX__)
  } catch (const abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {
    WriteExceptionLine(sink, class_name, operation);
    return failure;
  }
}

// The same for an operation without a result; true when the body ran to its
// end, so that a caller can add its own recovery after the line:
//   if (!Guarded(*this, "TBaseDLLObject", "Stop", [&] { ... })) ...;
template <class F>
bool Guarded(LogSink& sink, std::string_view class_name, std::string_view operation, F&& body) {
  return Guarded(sink, class_name, operation, false, [&] {
    std::forward<F>(body)();
    return true;
  });
}

}  // namespace tk571
