#include "cli/Files.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <filesystem>

#include "cli/ExitCode.h"

namespace vek {

namespace {

const char* kindOf(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::directory:
            return "uma pasta";
        case std::filesystem::file_type::character:
            return "um terminal ou dispositivo";
        case std::filesystem::file_type::fifo:
            return "um FIFO";
        default:
            return "um arquivo especial";
    }
}

[[noreturn]] void unreadable(const std::string& path, const QString& why) {
    throw CommandFailure(kExitFileError, "file_unreadable",
                         path + ": não foi possível ler (" + why.toStdString() + ")");
}

}  // namespace

void requireRegularFile(const std::string& path, bool mayBeMissing) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found && mayBeMissing)
        return;
    if (status.type() == std::filesystem::file_type::regular)
        return;
    if (status.type() == std::filesystem::file_type::not_found || error)
        unreadable(path, QString::fromStdString(error.message()));
    throw CommandFailure(kExitFileError, "not_a_file",
                         path + " não é um arquivo comum: é " + kindOf(status.type()));
}

QByteArray readFile(const std::string& path, qsizetype limit) {
    requireRegularFile(path, false);
    QFile in(QString::fromStdString(path));
    if (!in.open(QIODevice::ReadOnly))
        unreadable(path, in.errorString());
    // One byte past the limit tells a huge file apart without reading it all; in pieces, since a
    // read sets aside all it may get first.
    QByteArray bytes;
    while (bytes.size() <= limit) {
        const QByteArray piece = in.read(std::min<qint64>(limit + 1 - bytes.size(), 1 << 20));
        if (in.error() != QFileDevice::NoError)
            unreadable(path, in.errorString());
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    return bytes;
}

void writeFile(const std::string& path, const QByteArray& bytes) {
    QSaveFile out(QString::fromStdString(path));
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        throw CommandFailure(
            kExitFileError, "file_unwritable",
            path + ": não foi possível gravar (" + out.errorString().toStdString() + ")");
}

}  // namespace vek
