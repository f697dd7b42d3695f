#include "updates/update_texts.h"

namespace {

struct TextPair
{
    const char *english;
    const char *persian; // nullptr: the English line is used in both languages
};

// U+200C (zero-width non-joiner) sits inside the compound words.
TextPair pairFor(UpdateText id)
{
    switch (id) {
    case UpdateText::CheckStarts:
        return {"Checking for updates...", "بررسی بروزرسانی..."};
    case UpdateText::ScanStarts:
        return {"Checking local files...", "بررسی فایل\u200cهای محلی..."};
    case UpdateText::Downloading:
        return {"Downloading: ", "دانلود: "};
    case UpdateText::DownloadFailed:
        return {"Download failed: ", "خطا در دانلود: "};
    case UpdateText::Verifying:
        return {"Verifying files...", "تأیید فایل\u200cها..."};
    case UpdateText::VerificationFailed:
        return {"Verification failed: ", "خطا در تأیید: "};
    case UpdateText::MissingDownload:
        return {"Missing downloaded file: ", nullptr};
    case UpdateText::Preparing:
        return {"Preparing installation...", "آماده\u200cسازی نصب..."};
    case UpdateText::Restarting:
        return {"Restarting to install update...", "راه\u200cاندازی مجدد برای نصب..."};
    case UpdateText::StubNotFound:
        return {"Update stub not found", "فایل بروزرسانی یافت نشد"};
    case UpdateText::LaunchFailed:
        return {"Failed to launch updater", "خطا در اجرای بروزرسان"};
    case UpdateText::PrepareFailed:
        return {"Failed to prepare installation", "خطا در آماده\u200cسازی نصب"};
    }
    return {"", nullptr};
}

} // namespace

QString updateText(UpdateText id, const QString &lang, const QString &path)
{
    const TextPair pair = pairFor(id);
    const bool persian = lang == QLatin1String("fa") && pair.persian;
    return QString::fromUtf8(persian ? pair.persian : pair.english) + path;
}
