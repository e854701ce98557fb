# Sourced by setup.sh: refreshes apt's indexes and, when the registry keeps
# serving a broken index for some suite or architecture, builds a private
# view of the machine's sources without it. The machine's own files are never
# edited for this; the view lives only as long as the set-up that made it.
#
#   apt_view_update DIR   leaves in apt_view_opts the options that make
#                         apt-get use the view (none when the registry is whole)
#
# QEL_APT_ETC (default /etc/apt), QEL_APT_ATTEMPTS and QEL_APT_PAUSE are there
# for the set-up's own test.

apt_view_opts=()

apt_view_arches() { { dpkg --print-architecture; dpkg --print-foreign-architectures; } | sort -u | xargs; }

# Lines "SUITE ARCH" (ARCH '*' when the suite's Release itself failed) from
# apt-get update's messages.
apt_view_failures() {
    sed -n -E 's#^[EW]: Failed to fetch .*/dists/([^/ ]+)/.*binary-([a-z0-9]+)/.*#\1 \2#p
               s#^[EW]: Failed to fetch .*/dists/([^/ ]+)/(In)?Release.*#\1 *#p' "$1" | sort -u
}

# Rewrites one sources file (deb822 or one-line) so that each failed suite
# keeps only the architectures that arrived; a suite with none left is dropped.
apt_view_rewrite() {
    awk -v failed="${2//$'\n'/;}" -v arches="$3" -v deb822="$4" '
        function arrived(suite, own,    out, n, a, i) {
            if (!(suite in gone)) return "keep"
            if (gone[suite] ~ /(^| )\*( |$)/) return ""
            n = split(own != "" ? own : arches, a, / +/)
            out = ""
            for (i = 1; i <= n; i++)
                if ((" " gone[suite] " ") !~ (" " a[i] " ")) out = out (out == "" ? "" : " ") a[i]
            return out
        }
        BEGIN {
            n = split(failed, f, ";")
            for (i = 1; i <= n; i++) if (split(f[i], p, " ") == 2) gone[p[1]] = gone[p[1]] " " p[2]
            if (deb822) RS = ""
        }
        deb822 {
            # One stanza: the suites that failed move to stanzas of their own.
            m = split($0, line, "\n"); suites = ""; own = ""
            if ($0 !~ /(^|\n)Suites:/) { print $0 "\n"; next }
            for (i = 1; i <= m; i++) {
                if (line[i] ~ /^Suites:/) { suites = line[i]; sub(/^Suites:[ \t]*/, "", suites) }
                if (line[i] ~ /^Architectures:/) { own = line[i]; sub(/^Architectures:[ \t]*/, "", own) }
            }
            k = split(suites, s, /[ \t]+/); kept = ""; extra = ""
            for (j = 1; j <= k; j++) {
                view = arrived(s[j], own)
                if (view == "keep") { kept = kept (kept == "" ? "" : " ") s[j]; continue }
                if (view == "") continue
                extra = extra stanza(line, m, s[j], view)
            }
            if (kept != "") printf "%s", stanza(line, m, kept, own)
            printf "%s", extra
            next
        }
        function stanza(line, m, suites, archs,    out, i, said) {
            out = ""; said = 0
            for (i = 1; i <= m; i++) {
                if (line[i] ~ /^Suites:/) { out = out "Suites: " suites "\n"; continue }
                if (line[i] ~ /^Architectures:/) { if (archs != "") out = out "Architectures: " archs "\n"; said = 1; continue }
                out = out line[i] "\n"
            }
            if (!said && archs != "") out = out "Architectures: " archs "\n"
            return out "\n"
        }
        /^[ \t]*deb(-src)?[ \t]/ {
            # deb [options] URI SUITE COMPONENTS...
            opts = ""; rest = $0
            if (match(rest, /\[[^]]*\]/)) { opts = substr(rest, RSTART + 1, RLENGTH - 2); rest = substr(rest, 1, RSTART - 1) substr(rest, RSTART + RLENGTH) }
            k = split(rest, w, /[ \t]+/); if (w[1] == "") { for (i = 1; i < k; i++) w[i] = w[i + 1]; k-- }
            own = ""
            if (match(opts, /arch=[^ \t]+/)) { own = substr(opts, RSTART + 5, RLENGTH - 5); gsub(/,/, " ", own) }
            view = arrived(w[3], own)
            if (view == "keep") { print; next }
            if (view == "") { print "# " $0; next }
            gsub(/arch=[^ \t]+/, "", opts); gsub(/^[ \t]+|[ \t]+$/, "", opts); gsub(/ /, ",", view)
            out = w[1] " [" opts (opts == "" ? "" : " ") "arch=" view "]"
            for (i = 2; i <= k; i++) out = out " " w[i]
            print out; next
        }
        { print }
    ' "$1"
}

apt_view_build() {
    local dir=$1 failed=$2 etc=${QEL_APT_ETC:-/etc/apt} arches file suite
    arches=$(apt_view_arches)
    rm -rf "$dir" && mkdir -p "$dir/sources.list.d" "$dir/preferences.d"
    : >"$dir/sources.list"
    [ -f "$etc/sources.list" ] && apt_view_rewrite "$etc/sources.list" "$failed" "$arches" 0 >"$dir/sources.list"
    for file in "$etc"/sources.list.d/*.list "$etc"/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        [[ $file == *.sources ]] && deb822=1 || deb822=0
        apt_view_rewrite "$file" "$failed" "$arches" $deb822 >"$dir/sources.list.d/${file##*/}"
    done
    [ -f "$etc/preferences" ] && cp "$etc/preferences" "$dir/preferences"
    cp "$etc"/preferences.d/* "$dir/preferences.d/" 2>/dev/null || true
    # Both architectures of a Multi-Arch "same" library must come at one
    # version, so a suite that arrived only in part yields to the whole ones.
    for suite in $(cut -d' ' -f1 <<<"$failed" | sort -u); do
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\nPackage: *\nPin: release a=%s\nPin-Priority: 100\n\n' \
            "$suite" "$suite" >>"$dir/preferences.d/zz-qel-setup-partial-suites.pref"
    done
    apt_view_opts=(-o "Dir::Etc::SourceList=$dir/sources.list" -o "Dir::Etc::SourceParts=$dir/sources.list.d"
                   -o "Dir::Etc::Preferences=$dir/preferences" -o "Dir::Etc::PreferencesParts=$dir/preferences.d")
}

apt_view_update() {
    local dir=$1 log attempt failed="" more
    local attempts=${QEL_APT_ATTEMPTS:-3} pause=${QEL_APT_PAUSE:-5}
    log=$(mktemp)
    apt_view_opts=()
    for ((attempt = 1; attempt <= attempts; attempt++)); do
        apt-get update -qq >"$log" 2>&1 && { rm -f "$log"; return 0; }
        [ "$attempt" -lt "$attempts" ] && sleep "$pause"
    done
    # A suite that fails in the view too is narrowed once more.
    for _ in 1 2; do
        more=$(apt_view_failures "$log")
        [ -n "$more" ] || break
        failed=$(printf '%s\n%s\n' "$failed" "$more" | sed '/^$/d' | sort -u)
        while read -r suite arch; do
            [ "$arch" = '*' ] && arch="every architecture"
            echo "setup: warning: the registry keeps serving a broken index for $suite ($arch):" >&2
        done <<<"$more"
        { grep -E '^[EW]: ' "$log" || true; } | sed 's/^/setup:   /' >&2
        apt_view_build "$dir" "$failed"
        echo "setup: installing from a view of the machine's sources without it ($dir):" \
             "those suites limited to the architectures that arrived and held at priority 100" \
             "below the others for this install; the machine's sources are not changed" >&2
        apt-get "${apt_view_opts[@]}" update -qq >"$log" 2>&1 && break
    done
    rm -f "$log"
    return 0
}
