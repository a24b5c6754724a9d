#include "engine/engine_lifetime.h"

#include <libxml/xmlerror.h>

#include <cstdarg>

#include "engine/client_app.h"
#include "engine/engine_log.h"
#include "exchange/log_sink.h"

namespace corvex {
namespace {

// libxml2 may split one complaint over several calls: each gets its own entry.
void forwardLibxmlMessage(void*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logMessageV(kLibxmlModule, format, args);
  va_end(args);
}

// The exchange code's lines (merge, documents) bring their own line break.
void forwardExchangeLine(const char* module, const char* text) {
  logMessage(module && *module ? module : nullptr, "%s", text ? text : "");
}

}  // namespace

void engineAttach() {
  xmlSetGenericErrorFunc(nullptr, forwardLibxmlMessage);
  exchange::setLogSink(forwardExchangeLine);
  logMessage(kLibxmlModule, "Initialization performed\n");
}

void engineDetach() {
  destroyClientApps();
  exchange::setLogSink(nullptr);
}

}  // namespace corvex
