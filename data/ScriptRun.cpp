#include "data/ScriptRun.h"

namespace vx::data {

ScriptRun runScript(Query& command, std::string_view text) {
    ScriptRun run;
    command.setText(text);
    try {
        command.execute();
    } catch (const DbConnectionLost&) {
        throw; // nothing more goes through it
    } catch (const std::exception& e) {
        run.failure = e.what();
    }
    Backend& backend = command.connection().backend();
    if (backend.inTransaction()) {
        backend.rollback();
        run.rolledBack = true;
    }
    backend.restoreSession();
    return run;
}

} // namespace vx::data
