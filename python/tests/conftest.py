"""Under a memory tool (scripts/sanitize and scripts/memcheck set VELTRANE_MEMORY_TOOL)
everything runs many times slower: hypothesis must not judge speed or deadlines there."""

import os

if os.environ.get("VELTRANE_MEMORY_TOOL"):
    from hypothesis import HealthCheck, settings

    settings.register_profile("memory-tool", deadline=None, suppress_health_check=list(HealthCheck))
    settings.load_profile("memory-tool")
