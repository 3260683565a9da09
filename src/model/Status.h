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
    Changed,   // another program changed the card since it was read
    NoCurrentRow,
    Io,          // reading or writing the file failed
    Unreachable, // the database server cannot be reached, or the connection to it was lost
    Denied,      // the database server refused the user or its password
    Other,
};

// The outcome of an operation: success, or a kind of failure with a plain Spanish message that
// names the file and the reason. Never thrown; callers show the message to the user.
//
// A failure of the database engine also keeps the engine's own (English) words as a detail for
// support: message() carries it as its last line, summary() leaves it out so that a caller can
// add its own sentences and still end with it (detailLine()).
class [[nodiscard]] Status {
public:
    Status() = default;
    static Status failure(ErrorKind kind, QString message, QString detail = {}) {
        return Status(kind, std::move(message), std::move(detail));
    }

    bool ok() const { return kind_ == ErrorKind::None; }
    explicit operator bool() const { return ok(); }
    ErrorKind kind() const { return kind_; }
    const QString& message() const { return message_; }
    const QString& summary() const { return summary_; }
    const QString& detail() const { return detail_; }
    // The detail as the last line of a message ("\n\nDetalle técnico: …"), or nothing.
    QString detailLine() const { return detailLine(detail_); }
    static QString detailLine(const QString& detail) {
        return detail.isEmpty() ? QString()
                                : QStringLiteral("\n\nDetalle técnico (para soporte): ") + detail;
    }

private:
    Status(ErrorKind kind, QString summary, QString detail)
        : kind_(kind), message_(summary + detailLine(detail)), summary_(std::move(summary)),
          detail_(std::move(detail)) {}
    ErrorKind kind_ = ErrorKind::None;
    QString message_;
    QString summary_;
    QString detail_;
};

} // namespace store
