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
  // A line that cannot be written is lost like any other log text.
  CatchAll([&] {
    if (sink.LogErrors()) sink.SetLogMsg(ExceptionLine(class_name, operation));
    return true;
  });
}

}  // namespace tk571
