// The journal's schema, one step per version. A step, once released, never changes: a later
// change is a new step.

#include <array>

#include "services/journal.h"

namespace kestrel {
namespace {

constexpr std::array<const char*, kJournalSchemaVersion> kSteps{
    // 1: the runs. `owner` names the process that writes a running row, so that a row whose
    // process has died can be told from one still going on.
    "CREATE TABLE runs ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " owner TEXT NOT NULL,"
    " started_at TEXT NOT NULL,"
    " ended_at TEXT,"
    " front_end TEXT NOT NULL,"
    " port INTEGER,"
    " device TEXT,"
    " usb_serial TEXT,"
    " usb_vendor_id TEXT,"
    " usb_product_id TEXT,"
    " image TEXT,"
    " image_size INTEGER,"
    " image_sha256 TEXT,"
    " image_version TEXT,"
    " old_image TEXT,"
    " old_image_sha256 TEXT,"
    " download_type TEXT,"
    " outcome TEXT NOT NULL,"
    " retransmissions INTEGER,"
    " supervision_expiries INTEGER,"
    " blocks_sent INTEGER,"
    " bytes_written INTEGER,"
    " duration_ms INTEGER,"
    " bytes_per_second INTEGER,"
    " last_red_line TEXT);",
    // 2: every open looks for running rows, and the history filters by time and outcome.
    "CREATE INDEX runs_by_outcome ON runs(outcome);"
    "CREATE INDEX runs_by_start ON runs(started_at);",
    // 3: a station's slot, and every device node a run opened as its handset came back.
    "ALTER TABLE runs ADD COLUMN slot TEXT;"
    "ALTER TABLE runs ADD COLUMN slot_label TEXT;"
    "ALTER TABLE runs ADD COLUMN opened TEXT;",
    // 4: how the command run after each unit ended.
    "ALTER TABLE runs ADD COLUMN hook_status TEXT;",
    // 5: the station: an identity made once and kept here, and its name, in every row; each
    // save counts a row's revision, and `forwarded` is the revision the fleet's server has.
    // Rows from before go to the server too, once one is set. `forwarding` keeps how the last
    // attempt to reach it went.
    "CREATE TABLE station (id TEXT NOT NULL);"
    "INSERT INTO station (id) VALUES (lower(hex(randomblob(16))));"
    "ALTER TABLE runs ADD COLUMN station_id TEXT;"
    "ALTER TABLE runs ADD COLUMN station_name TEXT;"
    "ALTER TABLE runs ADD COLUMN revision INTEGER NOT NULL DEFAULT 1;"
    "ALTER TABLE runs ADD COLUMN forwarded INTEGER NOT NULL DEFAULT 0;"
    "UPDATE runs SET station_id = (SELECT id FROM station);"
    "CREATE INDEX runs_to_forward ON runs(id) WHERE forwarded < revision;"
    "CREATE TABLE forwarding (attempted_at TEXT NOT NULL, error TEXT);",
};

int UserVersion(CSqliteDb& db)
{
    CStatement query(db, "PRAGMA user_version");
    return query.Step() == SQLITE_ROW ? static_cast<int>(query.Int(0)) : -1;
}

}  // namespace

bool MigrateJournal(CSqliteDb& db, int toVersion, std::string& strError)
{
    if (UserVersion(db) == toVersion) return true;
    // The version is read again under the write lock: another process may have migrated.
    if (db.Exec("BEGIN IMMEDIATE") != SQLITE_OK) {
        strError = db.Error();
        return false;
    }
    const int fromVersion = UserVersion(db);
    if (fromVersion < 0 || fromVersion > toVersion) {
        db.Exec("ROLLBACK");
        strError = fromVersion < 0 ? db.Error()
                                   : "it was written by a newer Kestrel (schema version " + std::to_string(fromVersion) + ")";
        return false;
    }
    for (int nStep = fromVersion; nStep < toVersion; ++nStep) {
        if (db.Exec(kSteps[static_cast<std::size_t>(nStep)]) != SQLITE_OK) {
            strError = db.Error();
            db.Exec("ROLLBACK");
            return false;
        }
    }
    const std::string stamp = "PRAGMA application_id = " + std::to_string(kJournalApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(toVersion) + ";";
    if (db.Exec(stamp.c_str()) != SQLITE_OK || db.Exec("COMMIT") != SQLITE_OK) {
        strError = db.Error();
        db.Exec("ROLLBACK");
        return false;
    }
    return true;
}

}  // namespace kestrel
