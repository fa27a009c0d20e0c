// The OPC client component library in one include.
#pragma once

#include "opcclient/kopl_browser.h"
#include "opcclient/kopl_errors.h"
#include "opcclient/kopl_group.h"
#include "opcclient/kopl_item.h"
#include "opcclient/kopl_properties.h"
#include "opcclient/kopl_routines.h"
#include "opcclient/kopl_server.h"
#include "opcclient/kopl_server_browser.h"
#include "opcclient/kopl_services.h"
#include "opcclient/kopl_sinks.h"
#include "opcclient/kopl_types.h"
#include "opcclient/kopl_window.h"
