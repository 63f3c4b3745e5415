#include "catalogue/known_archives.h"

const KnownArchive kKnownArchives[] = {
    {454605294, "Quarry.MIX"},      {500577414, "Marlin.MIX"}, {25046328, "Juniper.MIX"},
    {236034607, "Harbor.MIX"},      {270673111, "Orchid.MIX"}, {51332268, "Pewter.MIX"},
    {kEndOfKnownArchives, nullptr},
};

const KnownArchive* FindKnownArchive(std::uint32_t archive_size) {
    for (const KnownArchive* row = kKnownArchives; row->size != kEndOfKnownArchives; ++row)
        if (row->size == archive_size)
            return row;
    return nullptr;
}
