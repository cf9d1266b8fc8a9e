#ifndef VELLOMAR_APP_CONSOLE_MESSAGES_H_
#define VELLOMAR_APP_CONSOLE_MESSAGES_H_

// The two messages the tool prints on its standard output, in GBK bytes, each
// followed by a line feed and a flush.

#include <ostream>

namespace vellomar {

// "文件打开错误！": the album description cannot be opened or is empty.
void printFileOpenError(std::ostream& out);
// "Json文件解析错误，解析结果: " and the parse result: the text is not JSON.
void printParseError(std::ostream& out, int parseResult);

}  // namespace vellomar

#endif  // VELLOMAR_APP_CONSOLE_MESSAGES_H_
