#pragma once

#include <cstdint>

// The presence calls the program makes of the Discord desktop client, over its
// local IPC socket. One process-wide connection with its own I/O thread; the
// handlers run only inside Discord_RunCallbacks, on the thread that calls it.

struct DiscordUser
{
    const char *userId;
    const char *username;
    const char *discriminator;
    const char *avatar;
};

struct DiscordRichPresence
{
    const char *state;
    const char *details;
    int64_t startTimestamp; // seconds since the epoch; 0 = none
    int64_t endTimestamp;
    const char *largeImageKey;
    const char *largeImageText;
    const char *smallImageKey;
    const char *smallImageText;
    const char *partyId;
    int partySize;
    int partyMax;
    int partyPrivacy; // 0 private, 1 public
    const char *matchSecret;
    const char *joinSecret;
    const char *spectateSecret;
    int8_t instance;
};

struct DiscordEventHandlers
{
    void (*ready)(const DiscordUser *user);
    void (*disconnected)(int errorCode, const char *message);
    void (*errored)(int errorCode, const char *message);
    void (*joinGame)(const char *joinSecret);
    void (*spectateGame)(const char *spectateSecret);
    void (*joinRequest)(const DiscordUser *user);
};

// Codes of the disconnected handler for drops noticed on our side; a close
// frame from the Discord client carries its own code.
inline constexpr int kDiscordPipeClosed = 1;
inline constexpr int kDiscordProtocolError = 2;

void Discord_Initialize(const char *applicationId, DiscordEventHandlers *handlers,
                        int autoRegister, const char *optionalSteamId);
void Discord_Shutdown();
void Discord_RunCallbacks();
void Discord_UpdatePresence(const DiscordRichPresence *presence);
void Discord_ClearPresence();
