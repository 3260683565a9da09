#pragma once

#include <QString>

namespace store {

enum class ErrorKind {
    None,
    CannotOpen,   // the file is missing and cannot be created, or cannot be opened
    NotADatabase, // the file exists but is not a card store
    ReadOnly,     // the file or its folder does not allow writing
    Busy,         // another program holds the file past the wait
    DiskFull,
    Duplicate, // a second card with a code already stored
    NotFound,  // the card is no longer in the store
    NoCurrentRow,
    Io, // reading or writing the file failed
    Other,
};

// The outcome of an operation: success, or a kind of failure with a plain Spanish message that
// names the file and the reason. Never thrown; callers show the message to the user.
class [[nodiscard]] Status {
public:
    Status() = default;
    static Status failure(ErrorKind kind, QString message) {
        return Status(kind, std::move(message));
    }

    bool ok() const { return kind_ == ErrorKind::None; }
    explicit operator bool() const { return ok(); }
    ErrorKind kind() const { return kind_; }
    const QString& message() const { return message_; }

private:
    Status(ErrorKind kind, QString message) : kind_(kind), message_(std::move(message)) {}
    ErrorKind kind_ = ErrorKind::None;
    QString message_;
};

} // namespace store
