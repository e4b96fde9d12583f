#pragma once

#include <QJsonObject>
#include <QList>
#include <QUrl>

namespace kovra::devservice {

// The external targets of the app's probes and diagnostics, pointed at the stand-in
// pages that `pages` ("http://127.0.0.1:<port>") serves. This is the content of the
// file that KOVRA_TARGETS_FILE names (one JSON object):
//
//   "base_urls"        the three API base URLs, in host order
//   "reachability"     [{"name", "url"}]: the five services of the reachability probe
//                      in probe order (YouTube, Apple, Cloudflare, Microsoft, Meta);
//                      each URL answers HEAD with 204
//   "self_test"        {"resolver_address", "resolver_port" (a TCP port that accepts),
//                      "first_name", "second_name" (names that resolve locally),
//                      "trace_url" (GET: "key=value" lines with "ip=" and "loc="),
//                      "check_url" (HEAD: 204), "check_label" (one word)}
//   "diagnostics_run"  {"ip_url" (HEAD of a bare address), "exit_ip_url" (GET: the
//                      exit address as plain text), "test_domain_url" (HEAD by name),
//                      "resolver_address", "resolver_port" (TCP), "resolve_name" (DNS),
//                      "entry_host", "entry_port" (TCP)}
//   "control_plane"    {"check_url"}: the public check page (HEAD: 204)
//
// Every URL is a full URL; ports are integers.
QJsonObject targetsJson(const QList<QUrl> &baseURLs, const QUrl &pages);

} // namespace kovra::devservice
