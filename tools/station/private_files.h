#pragma once
// The station's files are its own: records, spool, ledger, lock and journals are made readable
// and writable by their owner only (0600), and their folders by their owner only (0700). Files
// that are there already keep their mode; readable_by_others() tells which of them a warning should
// name.

#include <QString>

#include <optional>

// Makes the file at `path` (mode 0600) when it is missing; false when it cannot be made.
bool make_private_file(const QString& path);

// Makes the folder at `path` and every missing folder above it (mode 0700); true when it is
// there afterwards.
bool make_private_folders(const QString& path);

// "…/records.sqlite can be read by other users (mode 0644): chmod 600 keeps it to its owner" when
// the file or folder at `path` lets its group or others read it; nothing otherwise.
std::optional<QString> readable_by_others(const QString& path);
