#pragma once
// The showroom player keeps its screen settings under the current user. At every start the
// launcher resets them to full screen at the player's own resolution before it can start it.
namespace qyr {

inline constexpr const char* kPlayerKeyPath = "SOFTWARE\\DefaultCompany\\QyrPlayer_V3";
inline constexpr const char* kPlayerFullscreenValue = "Screenmanager Fullscreen mode_h3630240806";
inline constexpr const char* kPlayerHeightValue = "Screenmanager Resolution Height_h2627697771";
inline constexpr const char* kPlayerWidthValue = "Screenmanager Resolution Width_h182942802";

// Sets the full-screen value to 1 and deletes the stored height and width; other values stay.
// Without the player's key (it never ran for this user) nothing happens and nothing is created.
// Raises RegistryError("Failed to set data for '<value>'") if the key refuses the write.
void PresetPlayerDisplay();

}  // namespace qyr
