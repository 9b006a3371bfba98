"""A JSON Schema for Kubernetes objects (Deployments, Services, ConfigMaps,
pod specs and `kind: List`), used by schema_bench.py. It uses only keywords
that mean the same in draft 7 and 2020-12: type, required, properties,
schema-valued additionalProperties, enum, pattern, bounds, items with one
schema, $ref into definitions, anyOf."""

DNS_LABEL = "^[a-z0-9]([-a-z0-9]*[a-z0-9])?$"
DNS_SUBDOMAIN = "^[a-z0-9]([-a-z0-9]*[a-z0-9])?(\\.[a-z0-9]([-a-z0-9]*[a-z0-9])?)*$"

SCHEMA = {
    "$ref": "#/definitions/object",
    "definitions": {
        "object": {
            "type": "object",
            "required": ["apiVersion", "kind"],
            "properties": {
                "apiVersion": {"type": "string", "minLength": 1},
                "kind": {"type": "string", "pattern": "^[A-Z][A-Za-z]*$"},
                "metadata": {"$ref": "#/definitions/metadata"},
                "spec": {
                    "anyOf": [
                        {"$ref": "#/definitions/deploymentSpec"},
                        {"$ref": "#/definitions/serviceSpec"},
                        {"$ref": "#/definitions/podSpec"},
                        {"type": "object"},
                    ]
                },
                "data": {"type": "object", "additionalProperties": {"type": "string"}},
                "items": {"type": "array", "items": {"$ref": "#/definitions/object"}},
            },
        },
        "metadata": {
            "type": "object",
            "properties": {
                "name": {"type": "string", "maxLength": 253, "pattern": DNS_SUBDOMAIN},
                "namespace": {"type": "string", "maxLength": 63, "pattern": DNS_LABEL},
                "labels": {"$ref": "#/definitions/stringMap"},
                "annotations": {"$ref": "#/definitions/stringMap"},
            },
        },
        "stringMap": {"type": "object", "additionalProperties": {"type": ["string", "number", "boolean", "null"]}},
        "intOrString": {
            "anyOf": [
                {"type": "integer", "minimum": 0, "maximum": 65535},
                {"type": "string", "minLength": 1, "maxLength": 63},
            ]
        },
        "selector": {
            "type": "object",
            "properties": {
                "matchLabels": {"$ref": "#/definitions/stringMap"},
                "matchExpressions": {"type": "array", "items": {"type": "object", "required": ["key", "operator"]}},
            },
        },
        "deploymentSpec": {
            "type": "object",
            "required": ["template"],
            "properties": {
                "replicas": {"type": "integer", "minimum": 0, "maximum": 10000},
                "selector": {"$ref": "#/definitions/selector"},
                "template": {
                    "type": "object",
                    "properties": {
                        "metadata": {"$ref": "#/definitions/metadata"},
                        "spec": {"$ref": "#/definitions/podSpec"},
                    },
                },
                "strategy": {
                    "type": "object",
                    "properties": {"type": {"enum": ["RollingUpdate", "Recreate"]}},
                },
            },
        },
        "serviceSpec": {
            "type": "object",
            "required": ["ports"],
            "properties": {
                "type": {"enum": ["ClusterIP", "NodePort", "LoadBalancer", "ExternalName"]},
                "selector": {"$ref": "#/definitions/stringMap"},
                "clusterIP": {"type": "string"},
                "ports": {
                    "type": "array",
                    "items": {
                        "type": "object",
                        "required": ["port"],
                        "properties": {
                            "name": {"type": "string", "pattern": DNS_LABEL},
                            "port": {"type": "integer", "minimum": 1, "maximum": 65535},
                            "targetPort": {"$ref": "#/definitions/intOrString"},
                            "nodePort": {"type": "integer", "minimum": 1, "maximum": 65535},
                            "protocol": {"enum": ["TCP", "UDP", "SCTP"]},
                        },
                    },
                },
            },
        },
        "podSpec": {
            "type": "object",
            "required": ["containers"],
            "properties": {
                "containers": {"type": "array", "items": {"$ref": "#/definitions/container"}},
                "initContainers": {"type": "array", "items": {"$ref": "#/definitions/container"}},
                "restartPolicy": {"enum": ["Always", "OnFailure", "Never"]},
                "nodeSelector": {"$ref": "#/definitions/stringMap"},
                "volumes": {
                    "type": "array",
                    "items": {"type": "object", "required": ["name"], "properties": {"name": {"type": "string", "pattern": DNS_LABEL}}},
                },
            },
        },
        "container": {
            "type": "object",
            "required": ["name"],
            "properties": {
                "name": {"type": "string", "pattern": DNS_LABEL},
                "image": {"type": "string", "minLength": 1},
                "imagePullPolicy": {"enum": ["Always", "IfNotPresent", "Never"]},
                "command": {"type": "array", "items": {"type": "string"}},
                "args": {"type": "array", "items": {"type": ["string", "number"]}},
                "ports": {
                    "type": "array",
                    "items": {
                        "type": "object",
                        "required": ["containerPort"],
                        "properties": {
                            "name": {"type": "string", "maxLength": 15},
                            "containerPort": {"type": "integer", "minimum": 1, "maximum": 65535},
                            "protocol": {"enum": ["TCP", "UDP", "SCTP"]},
                        },
                    },
                },
                "env": {
                    "type": "array",
                    "items": {"type": "object", "required": ["name"], "properties": {"name": {"type": "string"}}},
                },
                "resources": {
                    "type": "object",
                    "properties": {
                        "limits": {"type": "object", "additionalProperties": {"$ref": "#/definitions/intOrString"}},
                        "requests": {"type": "object", "additionalProperties": {"$ref": "#/definitions/intOrString"}},
                    },
                },
            },
        },
    },
}


# The pattern-heavy case: 20 rules (18 `patternProperties` entries, most with
# a `pattern` of their own, and 2 `pattern` keywords; 36 pattern texts)
# applied to every mapping and string of an object, whatever its kind. The patterns keep
# to what Python's `re` (the peers' engine) reads the same way.
_NODE = "#/definitions/node"
_NAME = "^[A-Za-z0-9]([-A-Za-z0-9_.]*[A-Za-z0-9])?$"
_HOST = "^(\\*\\.)?[a-z0-9]([-a-z0-9]*[a-z0-9])?(\\.[a-z0-9]([-a-z0-9]*[a-z0-9])?)*$"
PATTERN_SCHEMA = {
    "$ref": _NODE,
    "definitions": {
        "node": {
            "pattern": "^[^\\x00-\\x08\\x0e-\\x1f]*$",
            "propertyNames": {"pattern": "^[^\\x00-\\x1f]+$"},
            "items": {"$ref": _NODE},
            "patternProperties": {
                "^[a-z][A-Za-z0-9]*$": {"$ref": _NODE},
                "^[a-z0-9.-]+/[A-Za-z0-9_.-]+$": {"$ref": _NODE},
                "^(name|namespace|generateName|serviceName|secretName|claimName)$": {"pattern": _NAME},
                "^(image)$": {"pattern": "^[\\w.-]+(:[0-9]+)?(/[\\w.-]+)*(:[\\w.-]+)?(@sha256:[0-9a-f]{64})?$"},
                "^(containerPort|port|targetPort|hostPort|nodePort)$": {"pattern": "^[a-z0-9-]{1,15}$"},
                "^(cpu|memory|storage|ephemeral-storage)$": {
                    "pattern": "^[0-9]+(\\.[0-9]+)?(m|k|Ki|Mi|Gi|Ti|M|G|T|E|Ei|P|Pi)?$"},
                "^app(\\.kubernetes\\.io/[a-z-]+)?$": {"pattern": "^[\\w.-]*$"},
                "([Pp]ath|^mountPath)$": {"pattern": "^[^\\x00]*$"},
                "^apiVersion$": {"pattern": "^([a-z0-9.-]+/)?v[0-9]+((alpha|beta)[0-9]+)?$"},
                "^kind$": {"pattern": "^[A-Z][A-Za-z]*$"},
                "^(protocol)$": {"pattern": "^(TCP|UDP|SCTP|HTTP|HTTPS)$"},
                "^(imagePullPolicy)$": {"pattern": "^(Always|IfNotPresent|Never)$"},
                "^(host|hostname)$": {"pattern": _HOST},
                "^(schedule)$": {"pattern": "^(@\\w+|(\\S+\\s+){4}\\S+)$"},
                "^(env)$": {"items": {"properties": {"name": {"pattern": "^[-._a-zA-Z][-._a-zA-Z0-9]*$"}}}},
                "^(type)$": {"pattern": "^[A-Za-z][\\w./-]*$"},
                "^(operator)$": {"pattern": "^(In|NotIn|Exists|DoesNotExist|Equal|Gt|Lt)$"},
                "^(restartPolicy)$": {"pattern": "^(Always|OnFailure|Never)$"},
            },
        },
    },
}
