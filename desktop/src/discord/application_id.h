#pragma once

// The service's Discord application (its registration owns the "logo" asset).
// A build may pass its own id as a compile definition.
#ifndef CORVANA_DISCORD_APPLICATION_ID
#define CORVANA_DISCORD_APPLICATION_ID "1318472094512834560"
#endif

inline constexpr const char *kDiscordApplicationId = CORVANA_DISCORD_APPLICATION_ID;
