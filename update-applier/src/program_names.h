#pragma once

// Program file names in the installation directory (no ".exe" on Linux).
inline constexpr const char* kMainProgramName = "corvana";
inline constexpr const char* kApplierProgramName = "CorvanaUpdateStub";
