#pragma once
// The right to configure the network, for the programs the client starts.
//   passNetworkRightsToChildren()  called once at start-up, before any child runs

namespace ostrel {

// An elevated client's children run elevated too; where rights come with the
// executable instead, they are handed on explicitly, and nothing else is.
void passNetworkRightsToChildren();

}  // namespace ostrel
