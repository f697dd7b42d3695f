#pragma once

#include <memory>

// The system's short "something happened" sound; playing never blocks.
class NotificationSound
{
public:
    virtual ~NotificationSound() = default;
    virtual void play() = 0;

    // The platform's player.
    static std::unique_ptr<NotificationSound> createDefault();
};
