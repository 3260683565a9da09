#pragma once

#include "CardFields.h"
#include "WebCard.h"

#include <QByteArray>

// Builds one web card record: every byte the filler, the record's end "\r\n", and the values
// placed at the offsets given.
class WebCardBytes {
public:
    explicit WebCardBytes(char filler = ' ') : bytes_(intake::kRecordSize, filler) {
        bytes_.replace(intake::kRecordSize - 2, 2, "\r\n");
    }
    WebCardBytes& at(qsizetype offset, QByteArrayView value) {
        bytes_.replace(offset, value.size(), value.data(), value.size());
        return *this;
    }
    WebCardBytes& set(store::Field field, QByteArrayView value) {
        return at(store::cardField(field).webOffset, value);
    }
    const QByteArray& bytes() const { return bytes_; }

private:
    QByteArray bytes_;
};
