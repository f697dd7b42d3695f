// The dedicated games and their servers as the game page sees them. The
// records use the several key spellings the service is known to send, and
// every server sits on its own loopback address so real pings answer.
#include "service_state.h"

#include <QJsonDocument>

namespace {

// Held as JSON text: the records read as the service writes them.
constexpr char kGames[] = R"json([
  {"id": "cs2", "name": "Counter-Strike 2", "short_name": "CS2", "status": "active",
   "image_url": "/static/dedicated/cs2.png", "server_count": 7, "available_server_count": 6,
   "player_count": 1250, "accent": "#f3c84b",
   "description": "Competitive and casual matches on servers close to you."},
  {"game_id": "dota2", "game_name": "Dota 2", "tag": "DOTA", "status": "full",
   "picture_url": "/static/dedicated/dota2.png", "servers": 2, "available_servers": 0,
   "players": 2500000, "description": "Private lobbies with low latency, every evening."},
  {"id": "mc java", "name": "Minecraft Java", "short_name": "MC", "status": "active",
   "image": "/static/dedicated/mc-java.png", "server_count": 2, "player_count": "37",
   "steam_app_id": 0, "description": "Survival and creative worlds run by the community."},
  {"id": "retro-arena", "name": "Retro Arena", "short_name": "RA", "status": "disabled",
   "image_url": "/static/archive/retro-arena.png", "server_count": 0, "player_count": null,
   "description": "Back after maintenance."}
])json";

constexpr char kServers[] = R"json({
  "cs2": [
    {"id": "cs2-1", "name": "Corvana Official #1", "map": "harbor", "mode": "competitive",
     "players": 7, "capacity": 10, "address": "127.0.0.2", "port": 27015, "region": "Tehran",
     "source": "official"},
    {"id": "cs2-2", "name": "Corvana Official #2", "map_name": "citadel", "type": "casual",
     "player_count": 20, "max_players": 20, "server_address": "127.0.0.3", "query_port": 27015,
     "region": "Tehran", "source": "official"},
    {"server_id": "cs2-3", "server_name": "Night Shift", "map": "dunes", "mode": "wingman",
     "players": 3, "capacity": 12, "ip": "127.0.0.4", "port": 27016, "region": "Mashhad",
     "source": "Official"},
    {"id": "cs2-4", "name": "Sandbox Practice", "map": null, "players": 0, "capacity": 16,
     "endpoint": "127.0.0.5", "port": 27015, "region": "Isfahan", "source": "partner"},
    {"id": "cs2-5", "name": "Far Away", "map": "outpost", "players": 2, "capacity": 10,
     "address": "192.0.2.10", "port": 27015, "region": "Elsewhere", "source": "official"},
    {"id": "cs2-c1", "name": "Friends of Harbor", "map": "harbor", "mode": "casual",
     "players": 4, "capacity": 10, "address": "127.0.0.6", "port": 27015, "source": "community",
     "owner_name": "mahsa"},
    {"id": "cs2-c2", "name": "Link Only", "map": "citadel", "players": 1, "capacity": 8,
     "steam_url": "steam://connect/127.0.0.7:27017/secret", "source": "community",
     "owner_name": "arash"}
  ],
  "dota2": [
    {"id": "dota-1", "name": "Evening Lobby", "map": "default", "players": 10, "capacity": 10,
     "address": "127.0.0.8", "port": 27020, "source": "official"},
    {"id": "dota-2", "name": "Practice Lane", "players": "4", "capacity": "10",
     "address": "127.0.0.8", "port": 27021, "source": "official"}
  ],
  "mc java": [
    {"id": 21, "name": "Survival", "map": "world", "players": 5, "capacity": 20,
     "address": "127.0.0.9", "port": 25565, "source": "community", "owner_name": "kian"},
    {"id": 22, "name": "Creative", "players": -3, "capacity": null, "address": "127.0.0.10",
     "port": 25566, "source": "community", "owner_name": "sara"}
  ]
})json";

} // namespace

void seedDedicatedCatalogue(ServiceState &state)
{
    state.dedicatedGames = QJsonDocument::fromJson(kGames).array();
    state.dedicatedServers.clear();
    const QJsonObject servers = QJsonDocument::fromJson(kServers).object();
    for (auto it = servers.begin(); it != servers.end(); ++it)
        state.dedicatedServers.insert(it.key(), it.value().toArray());
}
