#pragma once

#include <google/protobuf/stubs/logging.h>

#include <QStringList>

#include <string>

// Takes what libprotobuf logs on the calling thread while it lives, instead of
// letting the library write it to standard error. Messages logged on other
// threads, and fatal ones, go on to the handler that was there before.
// Captures nest: the innermost one takes the messages.
//
// The library's log handler is one process-wide pointer that it reads without
// a lock, so install() must run before libprotobuf is used on more than one
// thread (the Protocol Buffers deserializer calls it when it is made).
class ProtobufLogCapture {
public:
    // Puts the capturing handler in place; later calls do nothing.
    static void install();

    ProtobufLogCapture();
    ~ProtobufLogCapture();

    ProtobufLogCapture(const ProtobufLogCapture&) = delete;
    ProtobufLogCapture& operator=(const ProtobufLogCapture&) = delete;
    ProtobufLogCapture(ProtobufLogCapture&&) = delete;
    ProtobufLogCapture& operator=(ProtobufLogCapture&&) = delete;

    // The messages taken so far, oldest first.
    const QStringList& messages() const { return m_messages; }

private:
    static void handle(google::protobuf::LogLevel level, const char* file, int line, const std::string& message);

    QStringList m_messages;
    ProtobufLogCapture* m_outer;
};
