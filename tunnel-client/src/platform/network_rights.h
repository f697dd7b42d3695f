#pragma once
// The right to configure the network, for the programs the client starts.
//   passNetworkRightsToChildren()  called once at start-up, before any child runs
//   holdsRightsItsUserLacks()      whether the client must guard what the right reaches

namespace ostrel {

// An elevated client's children run elevated too; where rights come with the
// executable instead, they are handed on explicitly, and nothing else is.
void passNetworkRightsToChildren();

// Whether the process holds a right its real user does not have (rights that came
// with the executable): what it loads must then be out of that user's reach.
bool holdsRightsItsUserLacks();

}  // namespace ostrel
