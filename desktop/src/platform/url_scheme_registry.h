#pragma once

#include <QString>

// Where the desktop learns which program opens links of a URL scheme; on
// Windows the per-user classes key of the registry.
class UrlSchemeRegistry
{
public:
    struct Registration {
        QString scheme;         // e.g. "corvana"
        QString description;    // shown by the desktop, e.g. "URL:Corvana Protocol"
        QString executablePath; // absolute path of the program that opens the link
    };

    virtual ~UrlSchemeRegistry() = default;
    // Writes (or rewrites) the handler; false when it could not be written.
    virtual bool registerScheme(const Registration &registration) = 0;
};
