#include "Mossbridge/model/PetAnimationState.h"

namespace Mossbridge {

namespace {
using S = PetAnimationState;
constexpr S idleChain[] = {S::idle};
constexpr S hoverChain[] = {S::hover, S::idle};
constexpr S speakingChain[] = {S::speaking, S::waiting, S::hover, S::idle};
constexpr S sleepChain[] = {S::sleep, S::idle};
constexpr S musicChain[] = {S::music, S::hover, S::idle};
constexpr S workChain[] = {S::work, S::idle};
constexpr S waitingChain[] = {S::waiting, S::speaking, S::hover, S::idle};
constexpr S errorChain[] = {S::waiting, S::speaking, S::hover, S::idle};
}  // namespace

std::span<const PetAnimationState> fallbackStates(PetAnimationState state) {
    switch (state) {
        case S::idle: return idleChain;
        case S::hover: return hoverChain;
        case S::speaking: return speakingChain;
        case S::sleep: return sleepChain;
        case S::music: return musicChain;
        case S::work: return workChain;
        case S::waiting: return waitingChain;
        case S::error: return errorChain;
    }
    return idleChain;
}

}  // namespace Mossbridge
