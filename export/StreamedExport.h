#pragma once
// The exports that grow with a recording, streamed: the measurement protocol
// (plain text or RTF) and the samples CSV of a treatment are read by one
// forward-only query and written out in chunks, so memory stays flat however
// long the recording is. They run on whatever thread calls them, through that
// thread's own connection of the store (a worker thread beside the window's),
// report their progress and stop when asked to. Written to a file through
// QSaveFile: a failed or cancelled export leaves nothing under the chosen
// name, and a file that was there stays as it was.

#include "export/CsvWriter.h"
#include "export/Richie.h"

#include <QString>

#include <atomic>
#include <functional>

class QIODevice;
class SqlStore;

namespace StreamedExport {

// The user stopped the export; nothing was written under the chosen name.
class Cancelled : public ExportError {
public:
    Cancelled() : ExportError(QStringLiteral("Der Export wurde abgebrochen.")) {}
};

// What an export is told and asked while it runs.
struct Job {
    // Rows written so far of all rows; called after every chunk.
    std::function<void(qint64 done, qint64 total)> progress;
    // Set from another thread to stop before the next chunk (Cancelled).
    const std::atomic<bool> *cancel = nullptr;
};

// The protocol as ExportBuilders::BuildProtocol builds it: the header line and
// one line per sample whose step row exists (time, voltage, current,
// function); nothing at all for a treatment without samples.
void WriteProtocol(SqlStore &store, int serviceID, Richie::Format format, const QString &fontFamily,
                   int fontPointSize, QIODevice &out, const Job &job = {});
// The samples CSV in either form, as SamplesCsv describes it.
void WriteSamplesCsv(SqlStore &store, int serviceID, QIODevice &out,
                     CsvWriter::Form form = CsvWriter::Form::Standard, const Job &job = {});

// The same into a file (created or replaced only when complete). Throws
// ExportError with a German text, Cancelled when stopped.
void SaveProtocol(SqlStore &store, int serviceID, Richie::Format format, const QString &fontFamily,
                  int fontPointSize, const QString &fileName, const Job &job = {});
void SaveSamplesCsv(SqlStore &store, int serviceID, const QString &fileName,
                    CsvWriter::Form form = CsvWriter::Form::Standard, const Job &job = {});

} // namespace StreamedExport
