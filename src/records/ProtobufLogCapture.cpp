#include "ProtobufLogCapture.h"

#include <mutex>

namespace {

// The capture of this thread that takes messages, or null.
thread_local ProtobufLogCapture* t_capture = nullptr;

// Written once, under the once flag, before any capture exists.
google::protobuf::LogHandler* s_previousHandler = nullptr;
std::once_flag s_installed;

} // namespace

void ProtobufLogCapture::install()
{
    std::call_once(s_installed, [] { s_previousHandler = google::protobuf::SetLogHandler(&ProtobufLogCapture::handle); });
}

ProtobufLogCapture::ProtobufLogCapture()
    : m_outer(t_capture)
{
    install();
    t_capture = this;
}

ProtobufLogCapture::~ProtobufLogCapture()
{
    t_capture = m_outer;
}

void ProtobufLogCapture::handle(
    google::protobuf::LogLevel level, const char* file, int line, const std::string& message)
{
    if (t_capture != nullptr && level < google::protobuf::LOGLEVEL_FATAL) {
        t_capture->m_messages.append(QString::fromStdString(message).trimmed());
        return;
    }
    // The library's default handler writes to standard error; a null one
    // means that logging was switched off.
    if (s_previousHandler != nullptr)
        s_previousHandler(level, file, line, message);
}
