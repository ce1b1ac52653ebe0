# Korvel's layers, each with the layers right below it. A new core subsystem (ai, actionitems,
# detection, calendar, organisation) declares itself here above processing when it lands, and
# mcp above core.
korvel_layer(platform)
korvel_layer(core/archive USES platform)
korvel_layer(core/catalog USES core/archive)
korvel_layer(core/processing USES core/catalog)
korvel_layer(widgets USES platform)
korvel_layer(apps USES core widgets mcp)
