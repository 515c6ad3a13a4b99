# bash completion for quellmark-cli
_quellmark_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="info trace render sound formats convert help"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help" -- "$cur"))
        return
    fi

    local command=${words[1]}
    case $prev in
        --out|--capture|-o|--watermark|--audio)
            _filedir
            return ;;
        --output-dir)
            _filedir -d
            return ;;
        --format)
            # Format numbers from the catalogue itself.
            COMPREPLY=($(compgen -W "$(quellmark-cli formats 2>/dev/null | awk '$1 ~ /^[0-9]+$/ {print $1}')" -- "$cur"))
            return ;;
        --end)
            COMPREPLY=($(compgen -W "last stall frames" -- "$cur"))
            return ;;
        --resolution)
            COMPREPLY=($(compgen -W "keep" -- "$cur"))
            return ;;
        --fps|--video-bitrate)
            COMPREPLY=($(compgen -W "keep auto" -- "$cur"))
            return ;;
        --frames|--width|--height|--duration|--audio-bitrate|--sample-rate|--channels|--jobs|--opacity|--crop|--watermark-rect|--video-codec|--audio-codec)
            return ;;
    esac

    local options
    case $command in
        info|formats) options="--json" ;;
        trace) options="--frames" ;;
        render) options="--frames --out --width --height" ;;
        sound) options="--frames --out --play --capture" ;;
        convert) options="--help --format --output-dir -o --resolution --fps --video-codec --video-bitrate
                          --audio-codec --audio-bitrate --sample-rate --channels --no-audio --crop --watermark
                          --watermark-rect --opacity --audio --loop --frames --duration --end --overwrite --jobs --json" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ $command != formats ]]; then
        _filedir swf
    fi
} &&
    complete -F _quellmark_cli quellmark-cli
