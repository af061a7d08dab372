#pragma once

// One include for everything a call site or the entry function needs.
// Level comes first: Logger.h includes this header back and must find it;
// the other headers only declare it.

namespace QsLogging {

enum Level : int {
    TraceLevel = 0,
    DebugLevel,
    InfoLevel,
    WarnLevel,
    ErrorLevel,
    FatalLevel,
    OffLevel
};

} // namespace QsLogging

#include "core/log/Logger.h"
#include "core/log/Destination.h"
#include "core/log/FileDestination.h"
#include "core/log/DebugOutputDestination.h"
#include "core/log/RotationStrategy.h"
#include "core/log/NullRotationStrategy.h"
#include "core/log/SizeRotationStrategy.h"

// A rejected message costs one comparison: the streamed items after the
// macro sit in the else branch and are never evaluated. The if/else shape
// keeps a caller's own else bound to the caller's if.
#define QLOG_AT_LEVEL(lvl) \
    if (QsLogging::Logger::instance().loggingLevel() > (lvl)) {} \
    else QsLogging::Logger::Helper(lvl).stream()

#define QLOG_TRACE() QLOG_AT_LEVEL(QsLogging::TraceLevel)
#define QLOG_DEBUG() QLOG_AT_LEVEL(QsLogging::DebugLevel)
#define QLOG_INFO()  QLOG_AT_LEVEL(QsLogging::InfoLevel)
#define QLOG_WARN()  QLOG_AT_LEVEL(QsLogging::WarnLevel)
#define QLOG_ERROR() QLOG_AT_LEVEL(QsLogging::ErrorLevel)
#define QLOG_FATAL() QLOG_AT_LEVEL(QsLogging::FatalLevel)
