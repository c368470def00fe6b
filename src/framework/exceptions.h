#pragma once
// The exception classes handlers throw. An exception that leaves a handler is
// reported by the application's top-level handler (see application.h); it
// never crosses a Qt event dispatch or a platform interface.

#include <QString>
#include <exception>
#include <string>

namespace ronvix::fw {

class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}
    const QString& Message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

// Asking an object for an interface it lacks.
class EIntfCastError : public Exception {
public:
    EIntfCastError() : Exception(QStringLiteral("Interface not supported")) {}
};

// A list index outside the list.
class EListError : public Exception {
public:
    explicit EListError(int index);
    using Exception::Exception;
};

// A value of one kind assigned to a property of another.
class EConvertError : public Exception {
public:
    EConvertError(const QString& from_class, const QString& to_class);
    explicit EConvertError(QString message) : Exception(std::move(message)) {}
};

// The window system had no timer left.
class EOutOfResources : public Exception {
public:
    EOutOfResources() : Exception(QStringLiteral("Not enough timers available")) {}
    using Exception::Exception;
};

// An operation that is invalid in the object's state or with its argument.
class EInvalidOperation : public Exception {
    using Exception::Exception;
};
class EInvalidArgument : public Exception {
    using Exception::Exception;
};

}  // namespace ronvix::fw
