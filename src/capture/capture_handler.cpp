// The plug-in's one reaction to the client: a changed scratch pad that holds
// a stand message becomes a queued stand event. Runs on the client's thread,
// so it never waits for the network: its only waits are the queue lock's
// short hold and the "Captured" line's append to the log file.
#include "capture/stand_message.h"
#include "shell/bridge_plugin.h"
#include "text/body_bytes.h"
#include "text/text.h"

using EuroScopePlugIn::CFlightPlan;

void CBridgePlugIn::OnFlightPlanControllerAssignedDataUpdate(CFlightPlan flightPlan,
                                                             int dataType) {
    // Every other notification returns before any call to the client.
    if (dataType != EuroScopePlugIn::CTR_DATA_TYPE_SCRATCH_PAD_STRING || !enabled ||
        !flightPlan.IsValid())
        return;

    const char *scratchPad = flightPlan.GetControllerAssignedData().GetScratchPadString();
    const char *callsign = flightPlan.GetCallsign();
    if (!scratchPad || !callsign) return;

    StandEvent event = {};
    text::TrimmedUpperCopy(event.callsign, callsign);
    FormatUtcTimestamp(event.observedAt);
    EuroScopePlugIn::CController myself = ControllerMyself();
    if (myself.IsValid()) text::TrimmedUpperCopy(event.controller, myself.GetCallsign());
    // A callsign the body would carry nothing of but blanks is no callsign:
    // null, not "" or " ".
    if (!text::BodyShowsSomethingOf(event.controller))
        for (char &c : event.controller) c = '\0';

    StandMessage message;
    if (!RecogniseStandMessage(scratchPad, message)) return;
    const char *planDestination = nullptr;
    if (message.kind == StandMessageKind::Stand)
        planDestination = flightPlan.GetFlightPlanData().GetDestination();
    ComposeStandEvent(message, planDestination, event);

    if (!QualifiesForQueue(message.kind, event, core.settings.airports)) return;
    core.queue.Push(event, core.log);
}
