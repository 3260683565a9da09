#include "CsvExport.h"

#include "CardStore.h"
#include "Clock.h"
#include "Folders.h"
#include "Messages.h"
#include "TextCodec.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QStringBuilder>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace output {

namespace {

// Bytes gathered before one write to the device: few large writes instead of one per line.
constexpr qsizetype kChunkBytes = 1 << 20;

QString quoted(const QString& path) {
    return u'"' % QDir::toNativeSeparators(path) % u'"';
}

// The Windows-1252 byte of every character of the Basic Multilingual Plane, taken once from the
// program's own codec so that the export agrees with it byte for byte, without a converter call
// for every value.
using ByteTable = std::array<char, 0x10000>;

const ByteTable& byteTable() {
    static const ByteTable table = [] {
        ByteTable t;
        t.fill('?');
        QString all;
        all.reserve(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (!QChar::isSurrogate(c))
                all.append(QChar(static_cast<char16_t>(c)));
        }
        const QByteArray bytes = store::toWindows1252(all);
        if (bytes.size() == all.size()) {
            for (qsizetype i = 0; i < all.size(); ++i)
                t[all.at(i).unicode()] = bytes.at(i);
        } else {
            // A codec that does not give one byte per character: ask it character by character.
            for (qsizetype i = 0; i < all.size(); ++i) {
                const QByteArray one = store::toWindows1252(QStringView(all).mid(i, 1));
                t[all.at(i).unicode()] = one.size() == 1 ? one.at(0) : '?';
            }
        }
        return t;
    }();
    return table;
}

bool isSpecial(char16_t u) {
    return u == u';' || u == u'"' || u == u'\r' || u == u'\n';
}

// Whether a spreadsheet opening the file would take the value for a formula and run it. Many
// values come from the practice's public web form, typed by anyone, so such a value is written
// with a leading apostrophe and the spreadsheet shows it as text. Leading blanks do not hide a
// formula: an import that trims spaces runs " =1+1". A sign is harmless when the rest is a plain
// number or telephone ("-12,5", "+56 9 8765 4321", "+56 (2) 2222 1111", "+56-2-2222-1111"): a
// spreadsheet keeps those as text, so they stay exactly as stored. Works on UTF-16 units and on
// UTF-8 bytes alike: only ASCII decides.
template <typename Unit> bool runsAsFormula(const Unit* s, qsizetype n) {
    qsizetype start = 0;
    while (start < n && s[start] == ' ')
        ++start;
    if (start == n)
        return false;
    const Unit first = s[start];
    if (first == '=' || first == '@' || first == '\t' || first == '\r')
        return true;
    if (first != '+' && first != '-')
        return false;
    for (qsizetype i = start + 1; i < n; ++i) {
        const Unit u = s[i];
        const bool numberOrPhone = (u >= '0' && u <= '9') || u == ' ' || u == '(' || u == ')' ||
                                   u == '.' || u == ',' || u == '-';
        if (!numberOrPhone)
            return true;
    }
    return false;
}

// Appends one value as Windows-1252 bytes, in double quotes when it holds a separator, a quote
// or a line break, after an apostrophe when it would run as a formula. A character outside
// Windows-1252 (or a surrogate pair) becomes one '?'.
void appendValue(QByteArray& out, QStringView value, const ByteTable& table) {
    const qsizetype n = value.size();
    const qsizetype start = out.size();
    out.resize(start + 2 * n + 3);
    char* p = out.data() + start;
    const char16_t* s = value.utf16();
    const bool guard = runsAsFormula(s, n);
    if (guard)
        *p++ = '\'';
    bool quote = false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i];
        if (u < 0x80) {
            if (isSpecial(u)) {
                quote = true;
                break;
            }
            *p++ = static_cast<char>(u);
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
            *p++ = '?';
            ++i;
        } else {
            *p++ = table[u];
        }
    }
    if (quote) {
        p = out.data() + start;
        *p++ = '"';
        if (guard)
            *p++ = '\'';
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = s[i];
            if (u < 0x80) {
                if (u == u'"')
                    *p++ = '"';
                *p++ = static_cast<char>(u);
            } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
                *p++ = '?';
                ++i;
            } else {
                *p++ = table[u];
            }
        }
        *p++ = '"';
    }
    out.resize(p - out.data());
}

// The exported fields of the kind, in column order.
std::vector<store::Field> exportedFields(ExportKind kind) {
    std::vector<store::Field> fields;
    for (const store::CardField& f : store::cardFields()) {
        if (f.exports & exportFlag(kind))
            fields.push_back(f.field);
    }
    return fields;
}

QString kindText(ExportKind kind) {
    return kind == ExportKind::Complete ? QStringLiteral("COMPLETA")
                                        : QStringLiteral("SIN PROPIETARIO");
}

} // namespace

store::ExportFlag exportFlag(ExportKind kind) {
    return kind == ExportKind::Complete ? store::CompleteExport : store::ShortExport;
}

QString exportTimeStamp(const QDateTime& at) {
    const QDate d = at.date();
    const QTime t = at.time();
    return QStringLiteral("%1.%2.%3 %4.%5.%6")
        .arg(d.day())
        .arg(d.month())
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(t.hour())
        .arg(t.minute())
        .arg(t.second());
}

QString exportFileName(ExportKind kind, const QDateTime& at) {
    const QString prefix = kind == ExportKind::Complete
                               ? QStringLiteral("Exporta Datos Completos_")
                               : QStringLiteral("Exporta Datos Sin Propietario_");
    return prefix % exportTimeStamp(at) % QStringLiteral(".CSV");
}

QByteArray csvHeader(ExportKind kind) {
    const ByteTable& table = byteTable();
    QByteArray out;
    bool first = true;
    for (store::Field f : exportedFields(kind)) {
        if (!first)
            out += ';';
        first = false;
        appendValue(out, store::cardField(f).csvHeader, table);
    }
    out += "\r\n";
    return out;
}

QByteArray csvLine(const store::Card& card, ExportKind kind) {
    const ByteTable& table = byteTable();
    QByteArray out;
    bool first = true;
    for (store::Field f : exportedFields(kind)) {
        if (!first)
            out += ';';
        first = false;
        if (f == store::Sexo)
            appendValue(out, store::sexWord(card[f]), table);
        else
            appendValue(out, card[f], table);
    }
    out += "\r\n";
    return out;
}

QByteArray csvRow(std::span<const QString> values) {
    const ByteTable& table = byteTable();
    QByteArray out;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ';';
        appendValue(out, values[i], table);
    }
    out += "\r\n";
    return out;
}

namespace {

// Gathers the bytes of many lines and writes them to the device in large chunks.
class ChunkWriter {
public:
    ChunkWriter(QIODevice* device, QString* error) : device_(device), error_(error) {
        bytes.reserve(kChunkBytes + 64 * 1024);
    }
    bool flush() {
        const qint64 written = device_->write(bytes);
        if (written < 0) {
            *error_ =
                QStringLiteral("No se pudo escribir el archivo: %1").arg(device_->errorString());
            return false;
        }
        if (written != bytes.size()) {
            // A short write sets no error text: the device simply took no more.
            *error_ = QStringLiteral("No se pudo escribir el archivo: solo se escribieron %1 de "
                                     "%2 bytes; el disco puede estar lleno.")
                          .arg(written)
                          .arg(bytes.size());
            return false;
        }
        bytes.resize(0);
        return true;
    }

    QByteArray bytes;

private:
    QIODevice* device_;
    QString* error_;
};

QString readFailure(const store::CardStore& store, const QString& detail) {
    return QStringLiteral("No se pudieron leer las tarjetas del registro %1: %2")
        .arg(store.registry().quoted(), detail);
}

// What each byte of UTF-8 text asks of the writer.
enum ByteClass : unsigned char { Plain, NeedsQuotes, NonAscii };

constexpr std::array<ByteClass, 256> kByteClass = [] {
    std::array<ByteClass, 256> c{};
    for (int b = 0x80; b < 0x100; ++b)
        c[b] = NonAscii;
    c[';'] = c['"'] = c['\r'] = c['\n'] = NeedsQuotes;
    return c;
}();

// Whether none of eight bytes is outside ASCII, a separator, a quote or a line break.
bool allPlain(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    const auto hasByte = [](std::uint64_t w, unsigned char c) {
        const std::uint64_t x = w ^ (ones * c);
        return (x - ones) & ~x & highs;
    };
    return ((word & highs) | hasByte(word, ';') | hasByte(word, '"') | hasByte(word, '\r') |
            hasByte(word, '\n')) == 0;
}

// Writes UTF-8 values as Windows-1252 bytes into a buffer of its own, handed to the device in
// large chunks; quoting and the formula apostrophe as appendValue does. A character beyond the
// Basic Multilingual Plane or a malformed sequence becomes one '?'.
class Utf8Writer {
public:
    Utf8Writer(ChunkWriter& out, const ByteTable& table) : out_(out), table_(table) {
        out_.bytes.resize(kChunkBytes + 64 * 1024);
    }

    void separator() { out_.bytes.data()[pos_++] = ';'; }
    void literal(const char* text, int n) {
        std::memcpy(out_.bytes.data() + pos_, text, size_t(n));
        pos_ += n;
    }

    // Room for a value of n bytes and the separator after it.
    bool reserve(qsizetype n) {
        const qsizetype need = 2 * n + 8;
        if (pos_ + need <= out_.bytes.size())
            return true;
        if (!flushed())
            return false;
        if (need > out_.bytes.size())
            out_.bytes.resize(need);
        return true;
    }

    void value(const unsigned char* s, int n) {
        char* const begin = out_.bytes.data() + pos_;
        char* p = begin;
        int i = 0;
        const bool guard = runsAsFormula(s, n);
        if (guard)
            *p++ = '\'';
        // Plain ASCII is copied as it stands until a byte asks for more, eight bytes at a time
        // while none of them does.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (!allPlain(word))
                break;
            std::memcpy(p, &word, 8);
            p += 8;
            i += 8;
        }
        while (i < n && kByteClass[s[i]] == Plain)
            *p++ = static_cast<char>(s[i++]);
        if (i < n) {
            bool quote = false;
            for (int k = i; k < n; ++k) {
                if (kByteClass[s[k]] == NeedsQuotes) {
                    quote = true;
                    break;
                }
            }
            if (quote) {
                p = begin;
                i = 0;
                *p++ = '"';
                if (guard)
                    *p++ = '\'';
            }
            while (i < n) {
                const unsigned char b = s[i];
                if (b < 0x80) {
                    if (b == '"')
                        *p++ = '"';
                    *p++ = static_cast<char>(b);
                    ++i;
                    continue;
                }
                const int length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
                char32_t c = length == 4 ? b & 0x07 : length == 3 ? b & 0x0F : b & 0x1F;
                bool valid = length > 1 && i + length <= n;
                for (int k = 1; valid && k < length; ++k) {
                    if ((s[i + k] & 0xC0) != 0x80)
                        valid = false;
                    else
                        c = (c << 6) | (s[i + k] & 0x3F);
                }
                *p++ = valid && c < 0x10000 && !QChar::isSurrogate(c) ? table_[c] : '?';
                i += valid ? length : 1;
            }
            if (quote)
                *p++ = '"';
        }
        pos_ += p - begin;
    }

    bool lineDone() {
        literal("\r\n", 2);
        return pos_ < kChunkBytes || flushed();
    }

    // Hands everything written so far to the device.
    bool flushed() {
        out_.bytes.resize(pos_);
        if (!out_.flush())
            return false;
        out_.bytes.resize(kChunkBytes + 64 * 1024);
        pos_ = 0;
        return true;
    }

    // Leaves what was written since the last flush to the chunk writer.
    void finish() {
        out_.bytes.resize(pos_);
        pos_ = 0;
    }

private:
    ChunkWriter& out_;
    const ByteTable& table_;
    qsizetype pos_ = 0;
};

// A batch of rows on its way from the store's thread to the writing one: each value as its
// length in four bytes, then its UTF-8 bytes.
struct RowBatch {
    std::vector<char> bytes; // its size is the room; only `used` bytes hold rows
    size_t used = 0;
};

// The rows read from the store on its thread, handed to the thread that writes the file a batch
// at a time. Reading and writing cost about the same, so the two run side by side. A few batches
// wait at most and the written ones are filled again, so the memory taken stays small and is
// not asked of the system anew for every batch, however many cards there are.
class RowBatches {
public:
    static constexpr size_t kBatchBytes = size_t(1) << 20;

    // Hands a full batch over, waiting while too many wait already; false once the writer has
    // stopped, when reading may stop too.
    bool push(RowBatch&& batch) {
        std::unique_lock lock(mutex_);
        taken_.wait(lock, [&] { return full_.size() < kWaiting || writerStopped_; });
        if (writerStopped_)
            return false;
        full_.push_back(std::move(batch));
        ready_.notify_one();
        return true;
    }
    // An empty batch to fill: one already written, or a new one.
    RowBatch spare() {
        std::lock_guard lock(mutex_);
        RowBatch batch;
        if (!written_.empty()) {
            batch = std::move(written_.back());
            written_.pop_back();
        } else {
            batch.bytes.resize(kBatchBytes);
        }
        batch.used = 0;
        return batch;
    }
    // Reading ended: `whole` when every card was read, otherwise what waits is dropped.
    void readerDone(bool whole) {
        std::lock_guard lock(mutex_);
        readerDone_ = true;
        if (!whole)
            full_.clear();
        ready_.notify_one();
    }
    // The next batch to write, the one written before given back; false when reading ended
    // and none waits.
    bool pop(RowBatch* batch) {
        std::unique_lock lock(mutex_);
        if (!batch->bytes.empty() && batch->bytes.size() <= 2 * kBatchBytes)
            written_.push_back(std::move(*batch));
        ready_.wait(lock, [&] { return !full_.empty() || readerDone_; });
        if (full_.empty())
            return false;
        *batch = std::move(full_.front());
        full_.pop_front();
        taken_.notify_one();
        return true;
    }
    void writerStopped() {
        std::lock_guard lock(mutex_);
        writerStopped_ = true;
        taken_.notify_one();
    }

private:
    static constexpr size_t kWaiting = 4;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable taken_;
    std::deque<RowBatch> full_;
    std::vector<RowBatch> written_;
    bool readerDone_ = false;
    bool writerStopped_ = false;
};

// Writes the rows of every batch, Windows-1252 and quoted, to the chunk writer.
bool writeBatches(RowBatches& batches, const std::vector<store::Field>& fields, ChunkWriter& out) {
    // The header row already waits in the chunk.
    const QByteArray header = out.bytes;
    Utf8Writer w(out, byteTable());
    w.literal(header.constData(), int(header.size()));
    RowBatch batch;
    while (batches.pop(&batch)) {
        const char* p = batch.bytes.data();
        const char* const end = p + batch.used;
        while (p < end) {
            bool first = true;
            for (store::Field f : fields) {
                std::uint32_t n;
                std::memcpy(&n, p, sizeof n);
                const auto* value = reinterpret_cast<const unsigned char*>(p + sizeof n);
                p += sizeof n + n;
                if (!w.reserve(n))
                    return false;
                if (!first)
                    w.separator();
                first = false;
                if (f == store::Sexo) {
                    if (n == 1 && value[0] == 'M')
                        w.literal("Macho", 5);
                    else
                        w.literal("Hembra", 6);
                } else {
                    // Null and empty alike write nothing.
                    w.value(value, int(n));
                }
            }
            if (!w.lineDone())
                return false;
        }
    }
    w.finish();
    return true;
}

// One forward-only walk over the store's raw UTF-8 values, packed into batches for a second
// thread that converts and writes them: converting every value to text first would cost more than
// the rest of the export.
bool writeRows(const store::CardStore& store, const std::vector<store::Field>& fields,
               ChunkWriter& out, QString* error) {
    RowBatches batches;
    bool written = true;
    std::thread writer([&] {
        written = writeBatches(batches, fields, out);
        if (!written)
            batches.writerStopped();
    });
    RowBatch batch = batches.spare();
    bool stopped = false;
    store::Status status = store.forEachRawCard(
        store::Order::Stored, fields, [&](store::RowId, const store::RawCard& card) {
            size_t row = 0;
            for (store::Field f : fields)
                row += sizeof(std::uint32_t) + size_t(card.utf8(f).size());
            if (batch.used + row > batch.bytes.size()) {
                if (batch.used > 0) {
                    if (!batches.push(std::move(batch)))
                        return !(stopped = true);
                    batch = batches.spare();
                }
                // A card larger than a batch has a batch of its own.
                if (row > batch.bytes.size())
                    batch.bytes.resize(row);
            }
            char* p = batch.bytes.data() + batch.used;
            for (store::Field f : fields) {
                // Null and empty alike are packed as no bytes.
                const QByteArrayView value = card.utf8(f);
                const auto n = std::uint32_t(value.size());
                std::memcpy(p, &n, sizeof n);
                if (n > 0)
                    std::memcpy(p + sizeof n, value.data(), n);
                p += sizeof n + n;
            }
            batch.used += row;
            return true;
        });
    if (status && !stopped && batch.used > 0)
        stopped = !batches.push(std::move(batch));
    batches.readerDone(status && !stopped);
    writer.join();
    if (!written)
        return false;
    if (!status) {
        *error = readFailure(store, status.message());
        return false;
    }
    return !stopped;
}

} // namespace

bool writeCsv(const store::CardStore& store, ExportKind kind, QIODevice* device, QString* error) {
    ChunkWriter out(device, error);
    out.bytes = csvHeader(kind);
    return writeRows(store, exportedFields(kind), out, error) && out.flush();
}

QString exportCommand(store::CardStore& store, const store::Folders& folders,
                      const store::Clock& clock, store::MessageLayer& messages) {
    // The stamp is the moment of the click, before any question is answered.
    const QDateTime at = clock.now();

    store::Status status;
    const qint64 count = store.recordCount(&status);
    if (!status) {
        messages.notice(status.message());
        return {};
    }
    if (count == 0) {
        messages.notice(QStringLiteral("Sin datos para exportar"));
        return {};
    }

    ExportKind kind;
    switch (messages.askYesNoCancel(QStringLiteral("Exporta datos completos ?"),
                                    QStringLiteral("Exporta a Excel"),
                                    store::MessageLayer::Answer::Yes)) {
    case store::MessageLayer::Answer::Yes:
        kind = ExportKind::Complete;
        break;
    case store::MessageLayer::Answer::No:
        kind = ExportKind::WithoutOwner;
        break;
    default:
        return {};
    }

    const QString path = folders.exportFile(exportFileName(kind, at));
    const auto failed = [&](const QString& reason) {
        messages.notice(QStringLiteral("No se pudieron exportar los datos al archivo %1.\n%2")
                            .arg(quoted(path), reason));
        return QString();
    };

    const QString dir = QFileInfo(path).absolutePath();
    if (!QFileInfo(dir).isDir())
        return failed(QStringLiteral("La carpeta %1 no existe.").arg(quoted(dir)));

    // Written beside its final name and renamed into place only when complete: a failed export
    // leaves neither a half-written file nor a damaged earlier one of the same name.
    QSaveFile file(path);
    // Unbuffered: the writer already writes in large chunks, and QSaveFile::commit() does not
    // notice a failure that only shows when its own buffer is flushed, so it would rename a
    // truncated file into place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(QStringLiteral("No se puede crear un archivo en la carpeta %1: %2")
                          .arg(quoted(dir), file.errorString()));
    QString error;
    if (!writeCsv(store, kind, &file, &error)) {
        file.cancelWriting();
        return failed(error);
    }
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failed(QStringLiteral("No se pudo escribir el archivo: %1").arg(reason));
    }
    if (!file.commit())
        return failed(QStringLiteral("No se pudo terminar de escribir el archivo: %1")
                          .arg(file.errorString()));

    messages.notice(QStringLiteral("EXPORTACION DE DATOS ") % kindText(kind) %
                    QStringLiteral("\r\n\r\nArchivo generado en:\r\n") %
                    QDir::toNativeSeparators(path));
    return path;
}

} // namespace output
