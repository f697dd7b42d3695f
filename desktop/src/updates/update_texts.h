#pragma once

#include <QString>

// The update service's user-facing status lines, English and Persian.
enum class UpdateText {
    CheckStarts,
    ScanStarts,
    Downloading,
    DownloadFailed,
    Verifying,
    VerificationFailed,
    MissingDownload,
    Preparing,
    Restarting,
    StubNotFound,
    LaunchFailed,
    PrepareFailed,
};

// Persian exactly when lang is "fa"; `path` is appended where the line names a file.
QString updateText(UpdateText id, const QString &lang, const QString &path = QString());
