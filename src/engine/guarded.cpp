#include "engine/guarded.h"

#include "engine/run_log.h"
#include "platform/gbk.h"

namespace tk571 {

std::string ExceptionLine(std::string_view class_name, std::string_view operation) {
  std::string body = TK571_GBK("：");
  body.append(class_name);
  body += '.';
  body.append(operation);
  body += TK571_GBK("异常！");
  return LogLine(body);
}

void WriteExceptionLine(LogSink& sink, std::string_view class_name, std::string_view operation) {
  try {
    if (sink.LogErrors()) sink.SetLogMsg(ExceptionLine(class_name, operation));
#if defined(__GLIBCXX__)
  } catch (const abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {
    // The line is lost like any other log text that cannot be written.
  }
}

}  // namespace tk571
