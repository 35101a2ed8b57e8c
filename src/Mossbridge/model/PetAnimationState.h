#pragma once
// The states a pet's animation can be in, and for each the ordered list of
// states tried when it is to be shown (a state without a playable clip gives
// way to the next candidate).

#include <array>
#include <span>

namespace Mossbridge {

enum class PetAnimationState { idle, hover, speaking, sleep, music, work, waiting, error };

// All eight, in declaration order.
inline constexpr std::array<PetAnimationState, 8> allPetAnimationStates = {
    PetAnimationState::idle,  PetAnimationState::hover, PetAnimationState::speaking, PetAnimationState::sleep,
    PetAnimationState::music, PetAnimationState::work,  PetAnimationState::waiting,  PetAnimationState::error,
};

// Candidates in order. `error` starts with `waiting`: a pet in the error
// state plays the waiting animation.
std::span<const PetAnimationState> fallbackStates(PetAnimationState state);

}  // namespace Mossbridge
