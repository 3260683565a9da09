#pragma once

#include "CardFields.h"
#include "CardStore.h"
#include "Status.h"

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <span>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

class PgLink;

// A read-only connection of its own to a card store (its file, or its server database), for long
// walks made off the window's thread; it belongs to the thread that opened it. Cards are read a
// chunk at a time, each chunk its own short read transaction, so that a walk over a million cards
// never keeps a save of the window waiting longer than one chunk takes.
class ChunkReader {
public:
    static std::unique_ptr<ChunkReader> open(const Registry& registry, Status* status);
    ~ChunkReader();
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    using Visit = std::function<void(RowId id, std::span<const QByteArrayView> values)>;
    // Visits up to `limit` cards whose id is above `after`, in stored order, with the stored UTF-8
    // bytes of `fields` in that order (a Null as no bytes). `*last` becomes the last id visited and
    // `*visited` how many were; fewer than `limit` means the walk reached the end.
    Status read(RowId after, int limit, std::span<const Field> fields, const Visit& visit,
                RowId* last, int* visited);

private:
    ChunkReader(Registry registry, sqlite3* db);
    Status failure(const QString& detail) const;
    Status readServer(RowId after, int limit, std::span<const Field> fields, const Visit& visit,
                      RowId* last, int* visited);

    Registry registry_;
    sqlite3* db_;
    std::unique_ptr<PgLink> server_; // instead of db_ on a server
    sqlite3_stmt* stmt_ = nullptr;
    std::vector<Field> prepared_; // the fields stmt_ reads
};

} // namespace store
