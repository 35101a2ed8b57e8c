#pragma once
// The audience evaluator and the experiment manager of the engine a running
// application makes. The engine reaches both through interfaces of its own
// (APMAudienceEvaluator, APMRemoteConfigExperimentManager) because it must
// build without them; these adapters plug the real ones in. Engines made by
// tests keep whatever their configuration holds.

#include "measurement/audiences/APMExperimentTaskManager.h"
#include "measurement/engine/APMMeasurement.h"

// Fills the audience seam of `configuration` when it is empty: the real
// audience evaluator over the engine's database.
void APMInstallAudienceEvaluator(APMMeasurementConfiguration& configuration);

// Fills the audience seam and the experiment manager of `configuration` when
// they are empty. The experiment manager is the process's one, made on the
// engine's dispatcher; audience limits are read from the engine's remote
// configuration at each update.
void APMInstallDefaultSubsystems(APMMeasurementConfiguration& configuration, platform::Dispatcher& dispatcher);
// The same with the experiment manager made from `experimentEnvironment`
// (its dispatcher required) when the process has none yet.
void APMInstallDefaultSubsystems(APMMeasurementConfiguration& configuration,
                                 const APMETaskManagerEnvironment& experimentEnvironment);
