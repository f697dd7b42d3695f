.pragma library

// Whether a text of unknown language reads right to left: among its first 20
// characters the first Arabic-script letter (or Hebrew one, when asked) makes
// it right to left, the first Latin letter left to right; anything else is
// skipped, and a text decided by neither reads left to right.
function isRtlText(text, withHebrew) {
    const value = text === undefined || text === null ? "" : String(text)
    const end = Math.min(20, value.length)
    for (let i = 0; i < end; ++i) {
        const c = value.charCodeAt(i)
        if ((c >= 0x0600 && c <= 0x06FF) || (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF)
                || (withHebrew && c >= 0x0590 && c <= 0x05FF))
            return true
        if (c >= 0x41 && c <= 0x7A)
            return false
    }
    return false
}
